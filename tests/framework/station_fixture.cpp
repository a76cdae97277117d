#include "station_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_log.h"
#include "test_table.h"

namespace fs = std::filesystem;

std::string EnterTempDir(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    fs::current_path(pattern);
    return pattern;
}

void RegisterTests(Station& station) {
    FillTestTable(station.tests);
    LoadPrefs(station);
}

std::string ReadTestLog() {
    for (const auto& entry : fs::directory_iterator(fs::current_path())) {
        if (entry.path().extension() != ".txt") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    return "";
}
