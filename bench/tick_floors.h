// The floors of the tick benchmark: the system calls each case of a tick
// cannot do without, on the same kind of file. Each returns whether the calls
// went the way the case needs (a floor that fails early would be cheaper than
// the work it stands for).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "test_files.h"

inline constexpr int kNameFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
inline constexpr int kOpenFlags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Every tick starts with a look at the name itself, without opening it.
inline bool MissingFloor(const std::string& path) {
    const int nameFd = open(path.c_str(), kNameFlags);
    if (nameFd >= 0) {
        close(nameFd);
        return false;
    }
    return errno == ENOENT;
}

// The look at an existing name: its type, size and write access, and the
// file system it is on. Returns the name's descriptor, or -1.
inline int LookAtName(const std::string& path) {
    const int nameFd = open(path.c_str(), kNameFlags);
    if (nameFd < 0) {
        return -1;
    }
    struct stat status {};
    struct statfs fileSystem {};
    if (fstat(nameFd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0 ||
        faccessat(nameFd, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) != 0 ||
        fstatfs(nameFd, &fileSystem) != 0) {
        close(nameFd);
        return -1;
    }
    return nameFd;
}

// A real open of the file behind the name's descriptor.
inline int Reopen(int nameFd, int accessMode) {
    char descriptorPath[32];
    std::snprintf(descriptorPath, sizeof descriptorPath, "/proc/self/fd/%d", nameFd);
    return open(descriptorPath, accessMode | kOpenFlags);
}

// Whether a read-only open of the file gets the write lease: nobody else has
// the file open. The probe is closed again, and its lease with it.
inline bool ProbeGetsTheLease(int nameFd, int* error) {
    const int probe = Reopen(nameFd, O_RDONLY);
    if (probe < 0) {
        *error = errno;
        return false;
    }
    const bool leased = fcntl(probe, F_SETLEASE, F_WRLCK) == 0;
    *error = leased ? 0 : errno;
    close(probe);
    return leased;
}

inline bool BusyFloor(const std::string& path) {
    const int nameFd = LookAtName(path);
    if (nameFd < 0) {
        return false;
    }
    int error = 0;
    const bool refused = !ProbeGetsTheLease(nameFd, &error) && error == EAGAIN;
    close(nameFd);
    return refused;
}

// The look and the probe, then the open for writing, its lease, the fstat
// that sees the file is still not empty, and the write.
inline bool RepairFloor(const std::string& path, const Bytes& head) {
    const int nameFd = LookAtName(path);
    if (nameFd < 0) {
        return false;
    }
    int error = 0;
    const int fd = ProbeGetsTheLease(nameFd, &error) ? Reopen(nameFd, O_WRONLY) : -1;
    struct stat status {};
    const bool written = fd >= 0 && fcntl(fd, F_SETLEASE, F_WRLCK) == 0 &&
                         fstat(fd, &status) == 0 && status.st_size > 0 &&
                         pwrite(fd, head.data(), head.size(), 0) == std::ssize(head);
    if (fd >= 0) {
        close(fd);
    }
    close(nameFd);
    return written;
}
