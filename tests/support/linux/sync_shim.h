// The sync shim (sync_shim.cpp) preloaded into every program this process
// starts while a SyncShim lives: their fdatasync and syncfs calls counted,
// and real, skipped or failed as asked.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "test_files.h"

// Slow: each call counted as it begins, then 300 ms before the real call.
enum class SyncMode { Real, Skipped, Failed, Slow };

inline constexpr int kCounters = 3;

class SyncShim {
public:
    explicit SyncShim(SyncMode mode) {
        const int fd = open(countsPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0 && ftruncate(fd, kCounters * sizeof(std::uint64_t)) == 0) {
            void* memory =
                mmap(nullptr, kCounters * sizeof(std::uint64_t), PROT_READ, MAP_SHARED, fd, 0);
            counts_ = memory == MAP_FAILED ? nullptr : static_cast<std::uint64_t*>(memory);
        }
        if (fd >= 0) {
            close(fd);
        }
        setenv("LD_PRELOAD", VELMORA_SYNC_SHIM, 1);
        setenv("VELMORA_SYNC_COUNTS", countsPath_.c_str(), 1);
        setenv("VELMORA_SYNC_MODE",
               mode == SyncMode::Skipped  ? "skip"
               : mode == SyncMode::Failed ? "fail"
               : mode == SyncMode::Slow   ? "slow"
                                          : "real",
               1);
        // A program built with AddressSanitizer wants its runtime first.
        const char* asan = std::getenv("ASAN_OPTIONS");
        savedAsanOptions_ = asan == nullptr ? "" : asan;
        hadAsanOptions_ = asan != nullptr;
        setenv("ASAN_OPTIONS", (savedAsanOptions_ + ":verify_asan_link_order=0").c_str(), 1);
    }
    ~SyncShim() {
        unsetenv("LD_PRELOAD");
        unsetenv("VELMORA_SYNC_COUNTS");
        unsetenv("VELMORA_SYNC_MODE");
        if (hadAsanOptions_) {
            setenv("ASAN_OPTIONS", savedAsanOptions_.c_str(), 1);
        } else {
            unsetenv("ASAN_OPTIONS");
        }
        if (counts_ != nullptr) {
            munmap(counts_, kCounters * sizeof(std::uint64_t));
        }
    }
    SyncShim(const SyncShim&) = delete;
    SyncShim& operator=(const SyncShim&) = delete;

    // The calls made so far by the programs started meanwhile; -1 when the
    // counters could not be set up.
    long long FileSyncs() const { return Count(0); }
    long long FileSystemSyncs() const { return Count(1); }
    // With SyncMode::Slow: the looks at a file system's kind (fstatfs), each
    // counted as it begins and then held up like a sync, so that a test can
    // act between a program's look at a file and its write.
    long long FileSystemLooks() const { return Count(2); }

private:
    long long Count(int which) const {
        return counts_ == nullptr
                   ? -1
                   : static_cast<long long>(__atomic_load_n(&counts_[which], __ATOMIC_SEQ_CST));
    }

    TempDir folder_;
    std::string countsPath_ = folder_ / "sync-counts";
    std::uint64_t* counts_ = nullptr;
    std::string savedAsanOptions_;
    bool hadAsanOptions_ = false;
};
