// Bytes and real files in a temporary folder: made, written and read whole.
// Only POSIX calls, so every Linux test and benchmark can share them.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes Filled(std::size_t size, unsigned char value) {
    return Bytes(size, value);
}

// A byte pattern that makes shifted or lost bytes visible.
inline Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>((i * 131 + seed) % 251);
    }
    return bytes;
}

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/velmora-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            // Without its own folder a test would work on whatever folder
            // its paths happen to name.
            std::perror("TempDir: mkdtemp");
            std::abort();
        }
        path_ = pattern;
        path_ += '/';
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
        if (error) {
            std::fprintf(stderr, "TempDir: could not remove %s: %s\n", path_.c_str(),
                         error.message().c_str());
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with its trailing '/', as the engine's base directory.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Writes all of data to fd, however the kernel splits the write. Only
// system calls: safe in a forked child.
inline bool WriteAllTo(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Creates or replaces the file; true when every byte was written.
inline bool WriteFile(const std::string& path, const Bytes& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAllTo(fd, bytes.data(), bytes.size());
    return close(fd) == 0 && written;
}

// The whole file, or no bytes when it cannot be opened.
inline Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return bytes;
    }
    unsigned char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    close(fd);
    return bytes;
}

// Makes each folder in turn under `root` (a parent before its children);
// false when one cannot be made.
inline bool MakeFolders(const TempDir& root, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (mkdir((root / folder).c_str(), 0755) != 0) {
            return false;
        }
    }
    return true;
}

inline bool Exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}
