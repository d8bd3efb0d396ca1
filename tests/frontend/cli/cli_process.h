// velmora-cli run as a process, as a user or a script runs it: its exit
// code and what it printed.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "exec_program.h"

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

// Runs velmora-cli with `arguments` in the folder `workingFolder`; as the
// user nobody (65534) when `asNobody`.
inline CliRun RunCli(const std::vector<std::string>& arguments, const std::string& workingFolder,
                     bool asNobody = false) {
    CliRun run;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return run;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        if ((asNobody && (setgid(65534) != 0 || setuid(65534) != 0)) ||
            chdir(workingFolder.c_str()) != 0) {
            _exit(127);
        }
        ExecProgram(VELMORA_CLI, nullptr, arguments);
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
