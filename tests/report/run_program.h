// Runs a program with arguments and extra environment, as a user would from
// a shell (standard input from the file `input`), and keeps its exit
// status, standard output and standard error.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct ProgramResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string SlurpFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::vector<std::string>& env = {},
                                const std::filesystem::path& directory = {},
                                const std::string& input = "/dev/null") {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    std::string outName = (dir / "zhand-report-out-XXXXXX").string();
    std::string errName = (dir / "zhand-report-err-XXXXXX").string();
    const int outFd = mkstemp(outName.data());
    const int errFd = mkstemp(errName.data());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvp;
    for (std::string& a : argv) argvp.push_back(a.data());
    argvp.push_back(nullptr);
    std::vector<std::string> envs;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& mine : env)
            if (entry.substr(0, entry.find('=') + 1) == mine.substr(0, mine.find('=') + 1))
                replaced = true;
        if (!replaced && !entry.starts_with("ZHAND_RESULTS=")) envs.push_back(entry);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    ProgramResult result;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argvp.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outFd);
    close(errFd);
    result.out = SlurpFile(outName);
    result.err = SlurpFile(errName);
    std::filesystem::remove(outName);
    std::filesystem::remove(errName);
    return result;
}
