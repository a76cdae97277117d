// A real file system that fills: a small tmpfs mounted on a test's own
// directory (where the machine lets the test mount, as root does), and the
// means to fill it to the last byte and free it again.
#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <string>

class SmallDisk {
  public:
    // Mounts a tmpfs of `size` ("4m") on the empty directory `dir`.
    SmallDisk(std::filesystem::path dir, const char* size) : dir_(std::move(dir)) {
        const std::string options = std::string("size=") + size;
        mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return mounted_; }

    // Fills the disk to its last byte; Free() takes the filler away.
    void Fill() const {
        std::ofstream blocks(dir_ / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (blocks.write(block.data(), block.size())) {
        }
        std::ofstream bytes(dir_ / "filler-tail", std::ios::binary);
        while (bytes.put('x')) {
        }
    }
    void Free() const {
        std::filesystem::remove(dir_ / "filler");
        std::filesystem::remove(dir_ / "filler-tail");
    }

  private:
    std::filesystem::path dir_;
    bool mounted_ = false;
};
