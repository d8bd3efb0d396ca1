// Recorder processes that write series of follow-up files without any lock,
// each file's bytes known from its series, its number and its size, for the
// running watch service (cli_process.h) to repair.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "test_files.h"

inline constexpr std::uint32_t kWatchTemplateSize = 2048;

// A follow-up file as a recorder leaves it: zeros where the template goes.
inline Bytes Damaged(std::size_t size, unsigned seed) {
    Bytes bytes = Pattern(size, seed);
    std::fill(bytes.begin(), bytes.begin() + kWatchTemplateSize, 0);
    return bytes;
}

// The bytes with `head` written over their start, as a repair leaves them.
inline Bytes WithHead(Bytes bytes, const Bytes& head) {
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

// The recorder's bytes: zeros where the template goes, then a pattern that
// tells series, files and positions apart.
inline unsigned char RecordedByte(unsigned series, int number, std::uint32_t position) {
    if (position < kWatchTemplateSize) {
        return 0;
    }
    return static_cast<unsigned char>(
        (position * 131u + static_cast<unsigned>(number) * 7u + series * 13u) % 251u);
}

inline std::string FollowUpOf(const std::string& stem, int number) {
    return stem + "#" + std::to_string(number) + ".mpg";
}

inline constexpr int kMaxRecordedFiles = 20000;

// Shared between a recorder process and the test, in a shared mapping.
struct SeriesBoard {
    std::atomic<int> finishedFiles;  // follow-up files 1..n are complete
    std::atomic<int> failure;        // nonzero: what went wrong in the recorder
    std::atomic<bool> done;
    std::uint32_t sizes[kMaxRecordedFiles + 1];
};

inline SeriesBoard* MapSeriesBoard() {
    void* memory = mmap(nullptr, sizeof(SeriesBoard), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) SeriesBoard{};
}

// A recorder process writing the series `stem` in `directory`: the base
// file, then follow-up files 1, 2, ... each in 1 to 8 sessions (open, two
// writes with a pause between them, close), never with any lock, until it
// has made `opens` opens or `files` files.
class RecorderProcess {
public:
    RecorderProcess(const std::string& directory, const std::string& stem, unsigned series,
                    long opens, int files)
        : series_(series), board_(MapSeriesBoard()) {
        if (board_ == nullptr) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            board_->failure = Record(directory, stem, opens, files);
            board_->done = true;
            _exit(0);
        }
    }
    ~RecorderProcess() {
        Wait();
        if (board_ != nullptr) {
            munmap(board_, sizeof(SeriesBoard));
        }
    }
    RecorderProcess(const RecorderProcess&) = delete;
    RecorderProcess& operator=(const RecorderProcess&) = delete;

    void Wait() {
        if (pid_ > 0) {
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    int failure() const { return board_ == nullptr ? -1 : board_->failure.load(); }
    int files() const { return board_ == nullptr ? 0 : board_->finishedFiles.load(); }
    std::uint32_t size(int number) const { return board_->sizes[number]; }

    // Whether the file holds the template and then exactly the recorder's bytes.
    bool HoldsTemplateAndRecording(const std::string& path, const Bytes& headerTemplate,
                                   int number) const {
        const Bytes bytes = ReadFile(path);
        if (bytes.size() != size(number)) {
            return false;
        }
        for (std::uint32_t position = 0; position < bytes.size(); ++position) {
            const unsigned char expected = position < headerTemplate.size()
                                               ? headerTemplate[position]
                                               : RecordedByte(series_, number, position);
            if (bytes[position] != expected) {
                return false;
            }
        }
        return true;
    }

private:
    int Record(const std::string& directory, const std::string& stem, long opens, int files) {
        std::mt19937 random(series_);
        if (!WriteFile(directory + stem + ".mpg", Pattern(4096, series_))) {
            return 1;
        }
        long opened = 0;
        for (int number = 1; number <= std::min(files, kMaxRecordedFiles) && opened < opens;
             ++number) {
            const std::string path = directory + FollowUpOf(stem, number);
            const int sessions = 1 + static_cast<int>(random() % 8);
            std::uint32_t size = 0;
            for (int session = 0; session < sessions; ++session) {
                const int flags = O_WRONLY | O_CLOEXEC | (session == 0 ? O_CREAT | O_EXCL : 0);
                const int fd = open(path.c_str(), flags, 0644);
                if (fd < 0) {
                    return 2;
                }
                ++opened;
                // The first session writes the damaged head in two pieces.
                const std::uint32_t middle = session == 0 ? kWatchTemplateSize / 2 : size + 128;
                const std::uint32_t end =
                    (session == 0 ? kWatchTemplateSize : middle) + 128 + random() % 4096;
                if (!WritePiece(fd, number, size, middle)) {
                    return 3;
                }
                Pause(random);
                if (!WritePiece(fd, number, middle, end)) {
                    return 3;
                }
                size = end;
                close(fd);
                Pause(random);
            }
            board_->sizes[number] = size;
            board_->finishedFiles = number;
        }
        return 0;
    }

    bool WritePiece(int fd, int number, std::uint32_t from, std::uint32_t to) const {
        unsigned char bytes[8192];
        while (from < to) {
            const std::uint32_t count = std::min<std::uint32_t>(to - from, sizeof bytes);
            for (std::uint32_t i = 0; i < count; ++i) {
                bytes[i] = RecordedByte(series_, number, from + i);
            }
            if (pwrite(fd, bytes, count, from) != static_cast<ssize_t>(count)) {
                return false;
            }
            from += count;
        }
        return true;
    }

    // Mostly none (close and reopen at once), sometimes a short spin,
    // sometimes a real sleep that gives the service a free moment.
    static void Pause(std::mt19937& random) {
        const unsigned kind = random() % 10;
        if (kind < 6) {
            return;
        }
        if (kind < 9) {
            for (unsigned spin = random() % 4000; spin > 0; --spin) {
                std::atomic_signal_fence(std::memory_order_seq_cst);
            }
            return;
        }
        usleep(random() % 300);
    }

    unsigned series_;
    SeriesBoard* board_;
    pid_t pid_ = -1;
};
