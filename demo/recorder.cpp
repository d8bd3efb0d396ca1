// velmora-demo-recorder DIR [FILES [HOLD_SECONDS [DELAY_SECONDS]]]
//
// Plays a recorder that loses the header of every file after the first:
// writes DIR/Film.mpg whole, then Film#1.mpg, Film#2.mpg, ... one after
// another, each starting with 2048 zero bytes where its header should be,
// each held open for a few seconds while it grows, and stops by itself.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mpeg_ps.h"
#include "write_file.h"

namespace {

constexpr int kPacksPerStep = 8;  // 16 KiB every step
constexpr auto kStep = std::chrono::milliseconds(250);
constexpr std::uint64_t kClockPerPack = 90000 * kPackSize / (25200 * 50);

struct Options {
    std::string directory;
    int files = 5;
    int holdSeconds = 5;
    int delaySeconds = 5;
};

bool ParseCount(const char* text, int low, int high, int* value) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < low || number > high) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

bool ParseOptions(int argc, char* argv[], Options* options) {
    if (argc < 2 || argc > 5) {
        return false;
    }
    options->directory = std::string(argv[1]) + "/";
    return (argc < 3 || ParseCount(argv[2], 1, 1000, &options->files)) &&
           (argc < 4 || ParseCount(argv[3], 1, 3600, &options->holdSeconds)) &&
           (argc < 5 || ParseCount(argv[4], 0, 3600, &options->delaySeconds));
}

bool AppendPacks(int fd, int count, std::uint64_t* clock) {
    for (int i = 0; i < count; ++i) {
        if (!WriteAll(fd, MakePaddingPack(*clock))) {
            return false;
        }
        *clock += kClockPerPack;
    }
    return true;
}

bool WriteBaseFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::uint64_t clock = 0;
    const bool written = WriteAll(fd, MakeHeaderPack()) && AppendPacks(fd, 64, &clock);
    return close(fd) == 0 && written;
}

// One follow-up file: the lost header as zeros, then data while it is held.
bool RecordFollowUp(const std::string& path, int holdSeconds) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::uint64_t clock = 0;
    bool written = WriteAll(fd, std::vector<unsigned char>(kPackSize, 0));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(holdSeconds);
    while (written && std::chrono::steady_clock::now() < until) {
        written = AppendPacks(fd, kPacksPerStep, &clock);
        std::this_thread::sleep_for(kStep);
    }
    return close(fd) == 0 && written;
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: %s DIR [FILES [HOLD_SECONDS [DELAY_SECONDS]]]\n", argv[0]);
        return 2;
    }
    if (!WriteBaseFile(options.directory + "Film.mpg")) {
        std::fprintf(stderr, "recorder: cannot write %sFilm.mpg\n", options.directory.c_str());
        return 1;
    }
    std::printf("recorder: Film.mpg written; Film#1.mpg follows in %d s\n", options.delaySeconds);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(options.delaySeconds));
    for (int number = 1; number <= options.files; ++number) {
        const std::string name = "Film#" + std::to_string(number) + ".mpg";
        std::printf("recorder: recording %s (header lost), open for %d s\n", name.c_str(),
                    options.holdSeconds);
        std::fflush(stdout);
        if (!RecordFollowUp(options.directory + name, options.holdSeconds)) {
            std::fprintf(stderr, "recorder: cannot write %s\n", name.c_str());
            return 1;
        }
        std::printf("recorder: %s closed\n", name.c_str());
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::printf("recorder: done after %d files\n", options.files);
    return 0;
}
