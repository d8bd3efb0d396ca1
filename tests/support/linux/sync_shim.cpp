// Preloaded (LD_PRELOAD) into a program under test: its fdatasync and syncfs
// calls are counted, and on demand skipped or made to fail, so that a test
// can meet a failed sync and a benchmark can time a run without the disk's
// wait beside one with it, each checked to have made its calls.
//   VELMORA_SYNC_COUNTS  a file of two 64-bit counters (fdatasync, syncfs),
//                        counted in a shared mapping as each call returns
//   VELMORA_SYNC_MODE    "skip": return 0 at once; "fail": -1 with EIO;
//                        "slow": counted as it begins, then 300 ms, then the
//                        real call (a slow disk, with time for a test to act
//                        meanwhile; fstatfs, the look at a file system's kind,
//                        is held up the same way); anything else: the real call
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

enum Counter { kFileSyncs = 0, kFileSystemSyncs = 1, kFileSystemLooks = 2 };
constexpr int kCounterCount = 3;

std::uint64_t* MapCounters() {
    const char* path = std::getenv("VELMORA_SYNC_COUNTS");
    const int fd = path == nullptr ? -1 : open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    void* memory = mmap(nullptr, kCounterCount * sizeof(std::uint64_t), PROT_READ | PROT_WRITE,
                        MAP_SHARED, fd, 0);
    close(fd);
    return memory == MAP_FAILED ? nullptr : static_cast<std::uint64_t*>(memory);
}

int Intercept(Counter counter, const char* name, int fd) {
    // Mapped before the call, so that nothing after it changes errno.
    static std::uint64_t* const counters = MapCounters();
    const char* mode = std::getenv("VELMORA_SYNC_MODE");
    int result = 0;
    int error = 0;
    const bool slow = mode != nullptr && std::strcmp(mode, "slow") == 0;
    if (slow && counters != nullptr) {
        __atomic_add_fetch(&counters[counter], 1, __ATOMIC_SEQ_CST);
        usleep(300 * 1000);
    }
    if (mode != nullptr && std::strcmp(mode, "fail") == 0) {
        result = -1;
        error = EIO;
    } else if (mode == nullptr || std::strcmp(mode, "skip") != 0) {
        const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, name));
        result = real(fd);
        error = errno;
    }
    if (counters != nullptr && !slow) {
        __atomic_add_fetch(&counters[counter], 1, __ATOMIC_SEQ_CST);
    }
    errno = error;
    return result;
}

}  // namespace

extern "C" int fdatasync(int fd) {
    return Intercept(kFileSyncs, "fdatasync", fd);
}

extern "C" int syncfs(int fd) noexcept {
    return Intercept(kFileSystemSyncs, "syncfs", fd);
}

// Only held up in slow mode; otherwise the real call, uncounted.
extern "C" int fstatfs(int fd, struct statfs* buffer) noexcept {
    static std::uint64_t* const counters = MapCounters();
    const auto real = reinterpret_cast<int (*)(int, struct statfs*)>(dlsym(RTLD_NEXT, "fstatfs"));
    const char* mode = std::getenv("VELMORA_SYNC_MODE");
    if (mode != nullptr && std::strcmp(mode, "slow") == 0 && counters != nullptr) {
        __atomic_add_fetch(&counters[kFileSystemLooks], 1, __ATOMIC_SEQ_CST);
        usleep(300 * 1000);
    }
    return real(fd, buffer);
}
