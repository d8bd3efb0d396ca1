// A recorder in a process of its own that keeps each follow-up file open
// while it writes it: <stem>#1.mpg, <stem>#2.mpg, ... one after another, each
// written in three steps over its hold time without any lock, then closed.
// Notes in shared memory the moment each close returned.
#pragma once

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "test_files.h"
#include "write_file.h"

inline std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct HoldingPlan {
    std::string directory;  // with its trailing '/'
    std::string stem = "Film";
    int files = 1;
    int minHoldMs = 0;                  // each file is held for a time in this range,
    int maxHoldMs = 0;                  // the same from run to run
    std::function<Bytes(int)> bytesOf;  // what file n holds in the end
};

class HoldingRecorder {
public:
    explicit HoldingRecorder(HoldingPlan plan) : plan_(std::move(plan)) {
        std::mt19937 random(20261207u);
        std::uniform_int_distribution<int> hold(plan_.minHoldMs, plan_.maxHoldMs);
        for (int n = 0; n <= plan_.files; ++n) {
            holdsMs_.push_back(hold(random));
        }
        sharedBytes_ = sizeof(std::int64_t) * static_cast<std::size_t>(plan_.files + 1);
        void* shared =
            mmap(nullptr, sharedBytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        closedAt_ = shared == MAP_FAILED ? nullptr : static_cast<std::int64_t*>(shared);
    }
    ~HoldingRecorder() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (closedAt_ != nullptr) {
            munmap(closedAt_, sharedBytes_);
        }
    }
    HoldingRecorder(const HoldingRecorder&) = delete;
    HoldingRecorder& operator=(const HoldingRecorder&) = delete;

    bool Start() {
        if (closedAt_ == nullptr) {
            return false;
        }
        pid_ = fork();
        if (pid_ == 0) {
            _exit(Record());
        }
        return pid_ > 0;
    }

    // Waits for the recorder to end; true when it wrote every file.
    bool Finish() {
        int status = 0;
        const bool ended = pid_ > 0 && waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // When the recorder closed file n (monotonic clock), or 0 while open.
    std::int64_t ClosedAt(int n) const { return __atomic_load_n(&closedAt_[n], __ATOMIC_ACQUIRE); }

private:
    // Runs in the forked child.
    int Record() {
        for (int n = 1; n <= plan_.files; ++n) {
            const std::string path =
                plan_.directory + plan_.stem + "#" + std::to_string(n) + ".mpg";
            const auto pause = std::chrono::milliseconds(holdsMs_[static_cast<std::size_t>(n)] / 2);
            if (!RecordHeld(path, plan_.bytesOf(n), 3, pause)) {
                return 1;
            }
            __atomic_store_n(&closedAt_[n], MonotonicNs(), __ATOMIC_RELEASE);
        }
        return 0;
    }

    HoldingPlan plan_;
    std::vector<int> holdsMs_;
    std::int64_t* closedAt_ = nullptr;
    std::size_t sharedBytes_ = 0;
    pid_t pid_ = -1;
};
