// Starting a program under test in a forked child, as the tests and the
// benchmarks that run velmora-cli as a process of its own do.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

// Replaces the forked child with `program`, given `subcommand` (unless it is
// nullptr) and then `arguments`; the child exits with 127 when that fails.
[[noreturn]] inline void ExecProgram(const char* program, const char* subcommand,
                                     const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program)};
    if (subcommand != nullptr) {
        argv.push_back(const_cast<char*>(subcommand));
    }
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
}
