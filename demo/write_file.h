// Small file helpers for the demo programs.
#pragma once

#include <vector>

// Writes all of bytes to fd; false on any failure.
bool WriteAll(int fd, const std::vector<unsigned char>& bytes);
