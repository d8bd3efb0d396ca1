// velmora-demo-recorder DIR RECORDING [FILES [SECONDS]]
//
// Plays a recorder that loses the header of every file after the first. It
// splits RECORDING (an MPEG program stream) at packs into FILES + 1 parts,
// writes the first as DIR/Film.mpg at once, and waits for Enter (or the end
// of its input), so that a person can first choose Film.mpg and press Start.
// Then it records Film#1.mpg, Film#2.mpg, ... one after another, each with
// its first 2048 bytes (the pack that holds its header) as zeros, each held
// open for SECONDS while it grows, and stops by itself.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "recording_parts.h"
#include "write_file.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kLostHeader = 2048;  // what a template restores
constexpr auto kStep = std::chrono::milliseconds(250);

struct Options {
    std::string directory;
    std::string recording;
    int files = 5;
    int seconds = 10;
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
    if (argc < 3 || argc > 5) {
        return false;
    }
    options->directory = std::string(argv[1]) + "/";
    options->recording = argv[2];
    return (argc < 4 || ParseCount(argv[3], 1, 100, &options->files)) &&
           (argc < 5 || ParseCount(argv[4], 1, 3600, &options->seconds));
}

bool ReadRecording(const std::string& path, Bytes* bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + n);
    }
    const bool read = std::ferror(file) == 0;
    return std::fclose(file) == 0 && read;
}

void Say(const std::string& line) {
    std::printf("recorder: %s\n", line.c_str());
    std::fflush(stdout);
}

void WaitForEnter() {
    int c;
    do {
        c = std::getchar();
    } while (c != '\n' && c != EOF);
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: %s DIR RECORDING [FILES [SECONDS]]\n", argv[0]);
        return 2;
    }
    Bytes recording;
    if (!ReadRecording(options.recording, &recording)) {
        std::fprintf(stderr, "recorder: cannot read %s\n", options.recording.c_str());
        return 1;
    }
    const std::vector<std::size_t> cuts = CutAtPacks(recording, options.files + 1);
    if (cuts.empty()) {
        std::fprintf(stderr, "recorder: %s has too few packs for %d files\n",
                     options.recording.c_str(), options.files + 1);
        return 1;
    }
    const auto part = [&](int number) {
        return Bytes(
            recording.begin() + static_cast<long>(cuts[static_cast<std::size_t>(number)]),
            recording.begin() + static_cast<long>(cuts[static_cast<std::size_t>(number) + 1]));
    };
    if (!RecordHeld(options.directory + "Film.mpg", part(0), 1, kStep)) {
        std::fprintf(stderr, "recorder: cannot write %sFilm.mpg\n", options.directory.c_str());
        return 1;
    }
    Say("Film.mpg written; Film#1.mpg follows when you press Enter here.");
    WaitForEnter();
    const int steps = static_cast<int>(std::chrono::seconds(options.seconds) / kStep);
    for (int number = 1; number <= options.files; ++number) {
        const std::string name = "Film#" + std::to_string(number) + ".mpg";
        Bytes bytes = part(number);
        std::fill_n(bytes.begin(), std::min(kLostHeader, bytes.size()), 0);
        Say("recording " + name + " (its header lost), open for " +
            std::to_string(options.seconds) + " s ...");
        if (!RecordHeld(options.directory + name, bytes, steps, kStep)) {
            std::fprintf(stderr, "recorder: cannot write %s\n", name.c_str());
            return 1;
        }
        Say(name + " closed.");
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    Say("finished. Close the window or press Ctrl+C to end the demo.");
    return 0;
}
