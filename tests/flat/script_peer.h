// A scripted hand on a pseudo-terminal: linked as ./COM1 in a temporary
// directory (the port the flat interface opens), it records every command it
// receives, echoes the command text and answers with a scripted reply and the
// prompt.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptPeer {
  public:
    // Opens the pty and links it as COM1 in a fresh temporary directory.
    ScriptPeer();
    ~ScriptPeer();
    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    bool Ready() const { return master_ >= 0; }
    const std::string& Directory() const { return dir_; }

    // Reply text to a command (given without its CR); the default is "".
    void Answer(const std::string& command, const std::string& reply);
    // Commands received so far, each with its CR, and forgets them.
    std::vector<std::string> Take();

  private:
    void Serve();
    void Respond(const std::string& command);

    int master_ = -1;
    int slave_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::string dir_;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, std::string> replies_;
    std::vector<std::string> received_;
};
