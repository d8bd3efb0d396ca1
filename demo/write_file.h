// Small file helpers for the demo programs.
#pragma once

#include <chrono>
#include <string>
#include <vector>

// Writes all of bytes to fd; false on any failure.
bool WriteAll(int fd, const std::vector<unsigned char>& bytes);

// Writes `bytes` to the file at `path` (made, or emptied) in `steps` steps of
// sizes as even as whole bytes allow, `pause` apart, holding it open all the
// while as a recorder does while it records, and closes it; false on any
// failure. Only system calls and a sleep: safe in a forked child.
bool RecordHeld(const std::string& path, const std::vector<unsigned char>& bytes, int steps,
                std::chrono::milliseconds pause);
