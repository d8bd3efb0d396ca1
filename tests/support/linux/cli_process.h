// velmora-cli run as a process of its own, as a user, a script or a service
// manager runs it, for the tests and the benchmarks alike: to its end (its
// exit code and what it printed), or as the running watch service (its lines
// awaited, signalled, its end awaited).
//
// The program is the build's velmora-cli, or the one the environment names in
// VELMORA_CLI; VELMORA_CLI_EMULATOR, when set, is the command it runs under
// (a user-mode emulator for a build for another processor), split at spaces.
// What a test preloads (the sync shim) it puts in the environment, which every
// program started here inherits.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_files.h"

// Polls `done` every few milliseconds until it holds or timeoutMs passes.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

inline long CountOf(const std::string& text, const std::string& piece) {
    long count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + piece.size())) {
        ++count;
    }
    return count;
}

// Where the running service's standard output goes.
enum class ServiceOutput {
    File,               // a file of its own, read with Out() while it runs
    Pipe,               // a pipe, read line by line with NextLine() (or never)
    PipeWithoutReader,  // a pipe whose reading end is closed before it starts
};

struct CliOptions {
    rlim_t fileSizeLimit = RLIM_INFINITY;  // no file grows past this
    bool asNobody = false;                 // runs as user and group 65534
    ServiceOutput output = ServiceOutput::File;
    // Above 0: runs as root in a user namespace of its own whose limit on
    // inotify watches is this, so that the limit is met without lowering
    // the system's for every other program.
    int watchLimit = 0;
    // Above 0: no more descriptors than this, not even by raising the limit.
    rlim_t openFileLimit = 0;
};

inline bool WriteProcFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    const bool written =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) {
        close(fd);
    }
    return written;
}

// This process as root (mapped to the real root) in a new user namespace
// that allows `limit` inotify watches.
inline bool EnterNamespaceWithWatchLimit(int limit) {
    return unshare(CLONE_NEWUSER) == 0 && WriteProcFile("/proc/self/setgroups", "deny") &&
           WriteProcFile("/proc/self/uid_map", "0 0 1") &&
           WriteProcFile("/proc/self/gid_map", "0 0 1") &&
           WriteProcFile("/proc/sys/user/max_inotify_watches", std::to_string(limit));
}

// The command that runs velmora-cli with `arguments`.
inline std::vector<std::string> CliCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> command;
    const char* emulator = std::getenv("VELMORA_CLI_EMULATOR");
    std::istringstream words(emulator == nullptr ? "" : emulator);
    for (std::string word; words >> word;) {
        command.push_back(word);
    }
    const char* program = std::getenv("VELMORA_CLI");
    command.push_back(program != nullptr && *program != '\0' ? program : VELMORA_CLI);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

// Replaces the forked child with `command` (found on PATH when it names no
// folder), in `workingFolder` and under `options`; exit code 127 when that
// fails. Standard output and error are set up by the caller.
[[noreturn]] inline void ExecInChild(const std::vector<std::string>& command,
                                     const std::string& workingFolder, const CliOptions& options) {
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    const rlimit descriptors{options.openFileLimit, options.openFileLimit};
    if (chdir(workingFolder.c_str()) != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
        (options.openFileLimit > 0 && setrlimit(RLIMIT_NOFILE, &descriptors) != 0) ||
        (options.asNobody && (setgid(65534) != 0 || setuid(65534) != 0)) ||
        (options.watchLimit > 0 && !EnterNamespaceWithWatchLimit(options.watchLimit))) {
        _exit(127);
    }
    // Nothing of the test's: a holder's pipe kept open here would never tell
    // the holder to let go.
    close_range(3, ~0u, 0);
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

struct CliRun {
    int exitCode = -1;  // -1: it did not end normally
    std::string out;
    std::string err;
};

// Reads a whole descriptor (until its writer closes it) into text.
inline std::string ReadUntilClosed(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Runs `command` (a program and its arguments) to its end in `workingFolder`.
inline CliRun RunProgram(const std::vector<std::string>& command, const std::string& workingFolder,
                         const CliOptions& options = CliOptions()) {
    CliRun run;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        if (dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) {
            _exit(127);
        }
        ExecInChild(command, workingFolder, options);
    }
    close(out[1]);
    close(err[1]);
    // The error stream is small; reading the output first cannot stall.
    run.out = ReadUntilClosed(out[0]);
    run.err = ReadUntilClosed(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    return run;
}

// Runs velmora-cli with `arguments` to its end in `workingFolder`.
inline CliRun RunCli(const std::vector<std::string>& arguments, const std::string& workingFolder,
                     const CliOptions& options = CliOptions()) {
    return RunProgram(CliCommand(arguments), workingFolder, options);
}

// `velmora-cli watch <arguments>` running in `workingFolder` until it ends or
// this object goes (then killed). Its standard error goes to a file, read
// with Err() while it runs.
class WatchProcess {
public:
    WatchProcess(const std::vector<std::string>& arguments, const std::string& workingFolder,
                 const CliOptions& options = CliOptions())
        : output_(options.output) {
        std::vector<std::string> watch{"watch"};
        watch.insert(watch.end(), arguments.begin(), arguments.end());
        int pipeEnds[2] = {-1, -1};
        if (output_ != ServiceOutput::File && pipe2(pipeEnds, O_CLOEXEC) != 0) {
            return;
        }
        if (output_ == ServiceOutput::PipeWithoutReader) {
            close(pipeEnds[0]);
            pipeEnds[0] = -1;
        }
        const std::string out = logs_ / "out";
        const std::string err = logs_ / "err";
        pid_ = fork();
        if (pid_ == 0) {
            const int outFd = output_ == ServiceOutput::File
                                  ? open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                  : pipeEnds[1];
            const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) {
                _exit(127);
            }
            ExecInChild(CliCommand(watch), workingFolder, options);
        }
        if (pipeEnds[1] >= 0) {
            close(pipeEnds[1]);
        }
        if (pipeEnds[0] >= 0) {
            outPipe_ = fdopen(pipeEnds[0], "r");
        }
    }
    ~WatchProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (outPipe_ != nullptr) {
            std::fclose(outPipe_);
        }
    }
    WatchProcess(const WatchProcess&) = delete;
    WatchProcess& operator=(const WatchProcess&) = delete;

    pid_t pid() const { return pid_; }
    // With ServiceOutput::File: all it has printed so far.
    std::string Out() const { return ReadText(logs_ / "out"); }
    std::string Err() const { return ReadText(logs_ / "err"); }

    // With ServiceOutput::Pipe: the next line, without its newline; false at
    // the end of the output.
    bool NextLine(std::string* line) {
        char buffer[4096];
        if (outPipe_ == nullptr || std::fgets(buffer, sizeof buffer, outPipe_) == nullptr) {
            return false;
        }
        *line = buffer;
        if (!line->empty() && line->back() == '\n') {
            line->pop_back();
        }
        return true;
    }

    // After its first scan the service says how many folders it watches
    // (with output to a pipe that line is kept in *readyLine, when given).
    bool WaitUntilReady(int timeoutMs = 10000, std::string* readyLine = nullptr) {
        if (output_ == ServiceOutput::Pipe) {
            for (std::string line; NextLine(&line);) {
                if (line.rfind("Beobachte ", 0) == 0) {
                    if (readyLine != nullptr) {
                        *readyLine = line;
                    }
                    return true;
                }
            }
            return false;
        }
        return WaitForOut("Beobachte ", 1, timeoutMs);
    }
    bool WaitForOut(const std::string& piece, long count = 1, int timeoutMs = 10000) const {
        return WaitUntil([&] { return CountOf(Out(), piece) >= count; }, timeoutMs);
    }
    bool WaitForErr(const std::string& piece, long count = 1, int timeoutMs = 10000) const {
        return WaitUntil([&] { return CountOf(Err(), piece) >= count; }, timeoutMs);
    }

    void Signal(int number) const {
        if (pid_ > 0) {
            kill(pid_, number);
        }
    }

    // The exit code once it ended; -1 when it did not end in time or a
    // signal ended it.
    int WaitForExit(int timeoutMs) {
        int status = 0;
        if (pid_ <= 0 ||
            !WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    TempDir logs_;
    ServiceOutput output_;
    std::FILE* outPipe_ = nullptr;
    pid_t pid_ = -1;
};
