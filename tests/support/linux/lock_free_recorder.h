// A recorder in a process of its own that takes no lock at all: it writes
// the follow-up files of a series one after another, each in several
// sessions (open, two writes with a pause between them, close), and lets go
// of each. Every file's bytes are known from its series, its number and its
// size. A board in shared memory shows what it has finished and which file
// it has open at each moment.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <string>

#include "test_files.h"

// The bytes a recorder loses: where the template goes.
inline constexpr std::uint32_t kLostHeadSize = 2048;
// Files per series: below 65535, so that no name of a series comes twice.
inline constexpr int kMaxRecordedFiles = 60000;

// A follow-up file as a recorder leaves it: zeros where the template goes.
inline Bytes Damaged(std::size_t size, unsigned seed) {
    Bytes bytes = Pattern(size, seed);
    std::fill_n(bytes.begin(), std::min<std::size_t>(size, kLostHeadSize), 0);
    return bytes;
}

// The bytes with `head` written over their start, as a repair leaves them.
inline Bytes WithHead(Bytes bytes, const Bytes& head) {
    std::copy_n(head.begin(), std::min(bytes.size(), head.size()), bytes.begin());
    return bytes;
}

inline std::string FollowUpOf(const std::string& stem, int number) {
    return stem + "#" + std::to_string(number) + ".mpg";
}

// The recorder's bytes: zeros where the template goes, then a pattern that
// tells series, files and positions apart.
inline unsigned char RecordedByte(unsigned series, int number, std::uint32_t position) {
    if (position < kLostHeadSize) {
        return 0;
    }
    return static_cast<unsigned char>(
        (position * 131u + static_cast<unsigned>(number) * 7u + series * 13u) % 251u);
}

// Shared between the recorder and the test. Lock-free atomics work across
// processes in a shared anonymous mapping.
struct RecorderBoard {
    std::atomic<int> openFile;       // the number of the file it has open, or 0
    std::atomic<int> contestedFile;  // set by the test: the file the program tries next
    std::atomic<int> finishedFiles;  // follow-up files 1..n are complete
    std::atomic<long> opens;
    std::atomic<long> contendedOpens;  // opens of the contested file
    std::atomic<int> failure;          // nonzero: what went wrong in the recorder
    std::atomic<bool> done;
    std::atomic<std::uint32_t> sizes[kMaxRecordedFiles + 1];
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long>::is_always_lock_free);

struct RecorderPlan {
    std::string directory;  // with its trailing '/'
    std::string stem = "Film";
    unsigned series = 1;            // seeds its pauses and tells its bytes apart
    long opens = 100000;            // it stops after this many opens ...
    int files = kMaxRecordedFiles;  // ... or this many files
    int maxSessions = 8;            // each file is written in 1 to this many sessions
    bool writeBase = true;          // writes <stem>.mpg first
};

class LockFreeRecorder {
public:
    explicit LockFreeRecorder(const RecorderPlan& plan) : plan_(plan) {
        void* memory = mmap(nullptr, sizeof(RecorderBoard), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        board_ = memory == MAP_FAILED ? nullptr : new (memory) RecorderBoard{};
    }
    // Starts the recorder process; false when it cannot run.
    bool Start() {
        if (board_ == nullptr) {
            return false;
        }
        pid_ = fork();
        if (pid_ == 0) {
            board_->failure = Record();
            board_->done = true;
            _exit(0);
        }
        return pid_ > 0;
    }
    ~LockFreeRecorder() {
        Wait();
        if (board_ != nullptr) {
            munmap(board_, sizeof(RecorderBoard));
        }
    }
    LockFreeRecorder(const LockFreeRecorder&) = delete;
    LockFreeRecorder& operator=(const LockFreeRecorder&) = delete;

    void Wait() {
        if (pid_ > 0) {
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    // Whether the recorder process ended without saying it was done.
    bool Died() {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
        }
        return pid_ <= 0 && board_ != nullptr && !board_->done;
    }
    // Nonzero when it could not record: -1 without a board, 1 to 3 from the recorder.
    int failure() const { return board_ == nullptr ? -1 : board_->failure.load(); }
    bool done() const { return board_ != nullptr && board_->done; }
    int files() const { return board_ == nullptr ? 0 : board_->finishedFiles.load(); }
    std::uint32_t size(int number) const { return board_->sizes[number]; }
    // Null when no shared memory could be had for it.
    RecorderBoard* board() { return board_; }

    // Empty when the file holds the template and then exactly the recorder's
    // bytes, else what differs.
    std::string Mismatch(const std::string& path, const Bytes& headerTemplate, int number) const {
        const Bytes bytes = ReadFile(path);
        if (bytes.size() != size(number)) {
            return path + ": " + std::to_string(bytes.size()) + " bytes, the recorder wrote " +
                   std::to_string(size(number));
        }
        for (std::uint32_t position = 0; position < bytes.size(); ++position) {
            const unsigned char expected = position < headerTemplate.size()
                                               ? headerTemplate[position]
                                               : RecordedByte(plan_.series, number, position);
            if (bytes[position] != expected) {
                return path + ": byte " + std::to_string(position) + " is " +
                       std::to_string(bytes[position]) + ", not " + std::to_string(expected);
            }
        }
        return "";
    }
    bool HoldsTemplateAndRecording(const std::string& path, const Bytes& headerTemplate,
                                   int number) const {
        return Mismatch(path, headerTemplate, number).empty();
    }

private:
    // Runs in the forked child.
    int Record() {
        std::mt19937 random(plan_.series);
        if (plan_.writeBase &&
            !WriteFile(plan_.directory + plan_.stem + ".mpg", Pattern(4096, plan_.series))) {
            return 1;
        }
        RecorderBoard& board = *board_;
        const int files = std::min(plan_.files, kMaxRecordedFiles);
        for (int number = 1; number <= files && board.opens < plan_.opens; ++number) {
            const std::string path = plan_.directory + FollowUpOf(plan_.stem, number);
            const int sessions = 1 + static_cast<int>(random() % plan_.maxSessions);
            std::uint32_t size = 0;
            for (int session = 0; session < sessions; ++session) {
                const int flags = O_WRONLY | O_CLOEXEC | (session == 0 ? O_CREAT | O_EXCL : 0);
                const bool contended = board.contestedFile == number;
                // A plain blocking open, as a recorder does: while the program
                // holds the file, it waits until the program lets go.
                const int fd = open(path.c_str(), flags, 0644);
                if (fd < 0) {
                    return 2;
                }
                board.openFile = number;
                ++board.opens;
                board.contendedOpens += contended ? 1 : 0;
                // The first session writes the damaged head in two pieces.
                const std::uint32_t middle = session == 0 ? kLostHeadSize / 2 : size + 128;
                const std::uint32_t end =
                    (session == 0 ? kLostHeadSize : middle) + 128 + random() % 4096;
                if (!WritePiece(fd, number, size, middle)) {
                    return 3;
                }
                Pause(random);
                if (!WritePiece(fd, number, middle, end)) {
                    return 3;
                }
                size = end;
                board.openFile = 0;
                close(fd);
                Pause(random);
            }
            board.sizes[number] = size;
            board.finishedFiles = number;
        }
        return 0;
    }

    bool WritePiece(int fd, int number, std::uint32_t from, std::uint32_t to) const {
        unsigned char bytes[8192];
        while (from < to) {
            const std::uint32_t count = std::min<std::uint32_t>(to - from, sizeof bytes);
            for (std::uint32_t i = 0; i < count; ++i) {
                bytes[i] = RecordedByte(plan_.series, number, from + i);
            }
            if (pwrite(fd, bytes, count, from) != static_cast<ssize_t>(count)) {
                return false;
            }
            from += count;
        }
        return true;
    }

    // Mostly none (close and reopen at once), sometimes a short spin,
    // sometimes a real sleep that gives the program a free moment.
    static void Pause(std::mt19937& random) {
        const unsigned kind = random() % 10;
        if (kind < 6) {
            return;
        }
        if (kind < 9) {
            for (unsigned spin = random() % 4000; spin > 0; --spin) {
                std::atomic_signal_fence(std::memory_order_seq_cst);  // keeps the loop
            }
            return;
        }
        usleep(random() % 300);
    }

    RecorderPlan plan_;
    RecorderBoard* board_ = nullptr;
    pid_t pid_ = -1;
};
