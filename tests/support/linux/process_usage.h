// What this process holds: open descriptors and resident memory, read from
// /proc. Long runs compare readings taken early with readings at the end.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

inline int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

// Reads a small /proc file without stdio, so that the reading itself
// allocates nothing. Returns the text, or an empty one.
inline std::string ReadProcFile(const char* path) {
    char text[1024] = {};
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

// This process's resident memory in KiB as /proc/self/statm tells it. The
// kernel updates these counters in batches, so a reading may lag a little.
inline long ResidentKiB() {
    const std::string text = ReadProcFile("/proc/self/statm");
    const std::size_t space = text.find(' ');  // the second field
    return space == std::string::npos ? 0
                                      : std::strtol(text.c_str() + space + 1, nullptr, 10) *
                                            (sysconf(_SC_PAGESIZE) / 1024);
}

// The same, counted exactly from the page tables (/proc/self/smaps_rollup).
inline long ExactResidentKiB() {
    const std::string text = ReadProcFile("/proc/self/smaps_rollup");
    const std::size_t rss = text.find("\nRss:");
    return rss == std::string::npos ? 0 : std::strtol(text.c_str() + rss + 5, nullptr, 10);
}
