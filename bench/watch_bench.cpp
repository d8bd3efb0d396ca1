// velmora-cli watch as a running service, measured from outside, each figure
// beside its goal. Every timed file is checked: its line arrived and its head
// is the template with every other byte as it was.
//   velmora_watch_bench [latency|idle|memory|tree]...   (default: all four)
// - latency: a writer closes a follow-up file -> the service has repaired it
//   (its line is read), one file at a time, VELMORA_WATCH_LATENCY_FILES (1,000);
//   once with each head flushed to the disk before its line, as the service
//   does, and once with that flush skipped (the sync shim preloaded). Each
//   file must have had its one fdatasync call (real, or skipped) by its line.
// - idle: processor time and wake-ups while nothing waits, over
//   VELMORA_WATCH_IDLE_SECONDS (10; the goal is stated for 60).
// - memory: 100 folders with 10,000 series, resident memory while
//   VELMORA_WATCH_BENCH_FILES follow-up files are repaired (20,000; the goal
//   is stated for 100,000).
// - tree: watch --recursive over VELMORA_WATCH_TREE_FOLDERS folders (10,000)
//   below one, a series in each: time from start to ready, resident memory,
//   and close -> repaired in VELMORA_WATCH_TREE_FILES folders (200) made
//   after the start, each made, given its base file and then its part; once
//   with each head flushed, once with the flush skipped.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli_process.h"
#include "lock_free_recorder.h"
#include "proof_support.h"
#include "sync_shim.h"
#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;
// Each line is read the moment the service writes it.
const CliOptions kLinesOnAPipe{.output = ServiceOutput::Pipe};

std::string ProcText(pid_t pid, const char* file) {
    const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

long StatusField(pid_t pid, const char* field) {
    const std::string text = ProcText(pid, "status");
    const std::size_t at = text.find(std::string("\n") + field + ":");
    return at == std::string::npos
               ? -1
               : std::strtol(text.c_str() + at + std::strlen(field) + 2, nullptr, 10);
}

// Time on the processor in nanoseconds (the scheduler's own count).
long long ProcessorNs(pid_t pid) {
    return std::strtoll(ProcText(pid, "schedstat").c_str(), nullptr, 10);
}

long WakeUps(pid_t pid) {
    return StatusField(pid, "voluntary_ctxt_switches") +
           StatusField(pid, "nonvoluntary_ctxt_switches");
}

// *closing is when the writer began to close the file: the service, woken
// by the close, may take this process's processor before the close returns.
bool WriteNew(const std::string& path, const Bytes& bytes, Clock::time_point* closing = nullptr) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = WriteAllTo(fd, bytes.data(), bytes.size());
    if (closing != nullptr) {
        *closing = Clock::now();
    }
    return close(fd) == 0 && written;
}

// A folder with header.mpeg and the base file Film.mpg; returns the template.
Bytes WriteTemplateAndBase(const TempDir& dir) {
    const Bytes headerTemplate = Pattern(kLostHeadSize, 77);
    WriteFile(dir / "header.mpeg", headerTemplate);
    WriteFile(dir / "Film.mpg", Pattern(8192, 1));
    return headerTemplate;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const std::size_t index = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
    return values[index];
}

bool Fail(const std::string& what) {
    std::printf("  FAILED: %s\n", what.c_str());
    return false;
}

bool MeasureLatency(SyncMode mode) {
    const long files = RunSize("VELMORA_WATCH_LATENCY_FILES", 1000);
    TempDir dir;
    const Bytes headerTemplate = WriteTemplateAndBase(dir);
    sync();  // only the service's own writes wait to be flushed
    SyncShim shim(mode);
    WatchProcess service({dir.path(), "--header", dir / "header.mpeg"}, dir.path(), kLinesOnAPipe);
    if (!service.WaitUntilReady()) {
        return Fail("the service did not start");
    }
    std::vector<double> ms;
    std::string line;
    for (long n = 1; n <= files; ++n) {
        const std::string name = "Film#" + std::to_string(n) + ".mpg";
        const Bytes damaged = Damaged(8192, static_cast<unsigned>(n));
        Clock::time_point closed;
        if (!WriteNew(dir / name, damaged, &closed)) {
            return Fail("cannot write " + name);
        }
        if (!service.NextLine(&line)) {
            return Fail("no line for " + name);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - closed).count());
        if (line != "Header \"" + name + "\" restauriert!" ||
            ReadFile(dir / name) != WithHead(damaged, headerTemplate)) {
            return Fail(name + ": \"" + line + "\" or its bytes are wrong");
        }
        if (shim.FileSyncs() != n) {
            return Fail(name + ": " + std::to_string(shim.FileSyncs()) +
                        " fdatasync calls by its line, not " + std::to_string(n));
        }
    }
    std::printf(
        "latency, writer closes -> head repaired (%ld files, one at a time, /tmp), %s:\n"
        "  p50 %.3f ms (goal <= 1 ms), p99 %.3f ms (goal <= 5 ms), max %.3f ms\n",
        files, mode == SyncMode::Real ? "each head flushed before its line" : "the flush skipped",
        Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0));
    return true;
}

bool MeasureIdle() {
    const long seconds = RunSize("VELMORA_WATCH_IDLE_SECONDS", 10);
    TempDir dir;
    const Bytes headerTemplate = WriteTemplateAndBase(dir);
    for (int n = 1; n <= 100; ++n) {  // an archive, repaired long ago
        WriteFile(dir / ("Film#" + std::to_string(n) + ".mpg"),
                  WithHead(Damaged(8192, 2), headerTemplate));
    }
    WatchProcess service({dir.path(), "--header", dir / "header.mpeg"}, dir.path(), kLinesOnAPipe);
    if (!service.WaitUntilReady()) {
        return Fail("the service did not start");
    }
    usleep(200 * 1000);
    const long long processorBefore = ProcessorNs(service.pid());
    const long wakeUpsBefore = WakeUps(service.pid());
    sleep(static_cast<unsigned>(seconds));
    const long long processorNs = ProcessorNs(service.pid()) - processorBefore;
    const long wakeUps = WakeUps(service.pid()) - wakeUpsBefore;
    // Still watching after the quiet time: a new file is repaired.
    const Bytes damaged = Damaged(8192, 3);
    std::string line;
    if (!WriteNew(dir / "Film#101.mpg", damaged) || !service.NextLine(&line) ||
        line != "Header \"Film#101.mpg\" restauriert!" ||
        ReadFile(dir / "Film#101.mpg") != WithHead(damaged, headerTemplate)) {
        return Fail("the service no longer repairs after the quiet time");
    }
    std::printf(
        "idle, nothing waiting (100 repaired files), over %ld s:\n"
        "  processor time %.3f ms (goal <= 1 ms over 60 s), wake-ups %ld (goal 0)\n",
        seconds, processorNs / 1e6, wakeUps);
    return true;
}

bool MeasureMemory() {
    const long files = RunSize("VELMORA_WATCH_BENCH_FILES", 20000);
    constexpr int kFolders = 100;
    constexpr int kSeriesPerFolder = 100;
    constexpr int kBatch = 500;
    TempDir root;
    const Bytes headerTemplate = Pattern(kLostHeadSize, 77);
    WriteFile(root / "header.mpeg", headerTemplate);
    std::vector<std::string> arguments{"--header", root / "header.mpeg"};
    std::vector<std::string> folders;
    for (int f = 0; f < kFolders; ++f) {
        folders.push_back(root / ("channel" + std::to_string(f)));
        mkdir(folders.back().c_str(), 0755);
        arguments.push_back(folders.back());
        for (int s = 0; s < kSeriesPerFolder; ++s) {
            WriteFile(folders.back() + "/Show" + std::to_string(s) + ".ts", Pattern(512, 1));
        }
    }
    WatchProcess service(arguments, root.path(), kLinesOnAPipe);
    if (!service.WaitUntilReady()) {
        return Fail("the service did not start");
    }
    const long startKiB = StatusField(service.pid(), "VmRSS");
    long highKiB = startKiB;
    long afterFirstBatchKiB = 0;
    const Bytes damaged = Damaged(2560, 5);
    const Bytes expected = WithHead(damaged, headerTemplate);
    std::string line;
    const auto start = Clock::now();
    // Round-robin over every series: file k of series s is Show<s>#<k>.ts.
    for (long written = 0; written < files;) {
        const long batch = std::min<long>(kBatch, files - written);
        for (long i = 0; i < batch; ++i) {
            const long index = written + i;
            const long series = index % (kFolders * kSeriesPerFolder);
            const std::string path = folders[static_cast<std::size_t>(series / kSeriesPerFolder)] +
                                     "/Show" + std::to_string(series % kSeriesPerFolder) + "#" +
                                     std::to_string(index / (kFolders * kSeriesPerFolder) + 1) +
                                     ".ts";
            if (!WriteNew(path, damaged)) {
                return Fail("cannot write " + path);
            }
        }
        for (long i = 0; i < batch; ++i) {
            // "<folder>: Header "<name>" restauriert!"
            if (!service.NextLine(&line)) {
                return Fail("the service stopped reporting");
            }
            const std::size_t prefixEnd = line.find(": Header \"");
            const std::size_t nameEnd = line.rfind("\" restauriert!");
            if (prefixEnd == std::string::npos || nameEnd == std::string::npos) {
                return Fail("unexpected line: " + line);
            }
            const std::string path = line.substr(0, prefixEnd) + "/" +
                                     line.substr(prefixEnd + 10, nameEnd - prefixEnd - 10);
            if (ReadFile(path) != expected) {
                return Fail(path + " is not repaired as it must be");
            }
            unlink(path.c_str());  // keeps the disk small; the service forgets it
        }
        written += batch;
        const long kiB = StatusField(service.pid(), "VmRSS");
        afterFirstBatchKiB = afterFirstBatchKiB == 0 ? kiB : afterFirstBatchKiB;
        highKiB = std::max(highKiB, kiB);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long endKiB = StatusField(service.pid(), "VmRSS");
    std::printf(
        "memory, %d folders with %d series, %ld follow-up files repaired (%.0f files/s):\n"
        "  resident %ld KiB after the first scan, %ld after the first %d files, %ld at "
        "the end, highest %ld (goal <= 8192 KiB, flat; stated for 100,000 files)\n",
        kFolders, kFolders * kSeriesPerFolder, files, files / seconds, startKiB, afterFirstBatchKiB,
        kBatch, endKiB, highKiB);
    return true;
}

bool MeasureTree(SyncMode mode) {
    const long folders = RunSize("VELMORA_WATCH_TREE_FOLDERS", 10000);
    const long newFolders = RunSize("VELMORA_WATCH_TREE_FILES", 200);
    TempDir root;
    const Bytes headerTemplate = Pattern(kLostHeadSize, 77);
    WriteFile(root / "header.mpeg", headerTemplate);
    const std::string tree = root / "recordings/";
    mkdir(tree.c_str(), 0755);
    for (long f = 0; f < folders; ++f) {
        const std::string folder = tree + "day" + std::to_string(f) + "/";
        mkdir(folder.c_str(), 0755);
        WriteFile(folder + "Show.ts", Pattern(512, 1));
        WriteFile(folder + "Show#1.ts", WithHead(Damaged(2560, 2), headerTemplate));
    }
    sync();  // only the service's own writes wait to be flushed
    SyncShim shim(mode);
    const auto starting = Clock::now();
    WatchProcess service({"-r", tree, "--header", root / "header.mpeg"}, root.path(),
                         kLinesOnAPipe);
    // Ready means every folder of the tree held and watched, the given one too.
    std::string ready;
    if (!service.WaitUntilReady(10000, &ready) ||
        ready != "Beobachte " + std::to_string(folders + 1) + " Ordner.") {
        return Fail("the service did not watch every folder: \"" + ready + "\"");
    }
    const double startMs =
        std::chrono::duration<double, std::milli>(Clock::now() - starting).count();
    const long readyKiB = StatusField(service.pid(), "VmRSS");
    std::vector<double> ms;
    std::string line;
    for (long n = 1; n <= newFolders; ++n) {
        const std::string folder = tree + "new" + std::to_string(n) + "/";
        const Bytes damaged = Damaged(8192, static_cast<unsigned>(n));
        Clock::time_point closed;
        if (mkdir(folder.c_str(), 0755) != 0 || !WriteNew(folder + "Film.mpg", Pattern(8192, 1)) ||
            !WriteNew(folder + "Film#1.mpg", damaged, &closed)) {
            return Fail("cannot write in " + folder);
        }
        if (!service.NextLine(&line)) {
            return Fail("no line for " + folder);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - closed).count());
        if (line != folder.substr(0, folder.size() - 1) + ": Header \"Film#1.mpg\" restauriert!" ||
            ReadFile(folder + "Film#1.mpg") != WithHead(damaged, headerTemplate)) {
            return Fail(folder + ": \"" + line + "\" or its bytes are wrong");
        }
        if (shim.FileSyncs() != n) {
            return Fail(folder + ": " + std::to_string(shim.FileSyncs()) +
                        " fdatasync calls by its line, not " + std::to_string(n));
        }
    }
    const long endKiB = StatusField(service.pid(), "VmRSS");
    std::printf(
        "tree, watch -r over %ld folders with a series each, %s:\n"
        "  start -> ready %.0f ms, resident %ld KiB when ready, %ld KiB after %ld more "
        "folders (goal <= 16384 KiB)\n"
        "  writer closes -> head repaired in a folder made after the start (%ld folders): "
        "p50 %.3f ms, p99 %.3f ms (goal <= 5 ms), max %.3f ms\n",
        folders, mode == SyncMode::Real ? "each head flushed before its line" : "the flush skipped",
        startMs, readyKiB, endKiB, newFolders, newFolders, Percentile(ms, 0.5),
        Percentile(ms, 0.99), Percentile(ms, 1.0));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> chosen(argv + 1, argv + argc);
    if (chosen.empty()) {
        chosen = {"latency", "idle", "memory", "tree"};
    }
    bool allDone = true;
    for (const std::string& measurement : chosen) {
        if (measurement == "latency") {
            allDone = MeasureLatency(SyncMode::Real) && allDone;
            allDone = MeasureLatency(SyncMode::Skipped) && allDone;
        } else if (measurement == "idle") {
            allDone = MeasureIdle() && allDone;
        } else if (measurement == "memory") {
            allDone = MeasureMemory() && allDone;
        } else if (measurement == "tree") {
            allDone = MeasureTree(SyncMode::Real) && allDone;
            allDone = MeasureTree(SyncMode::Skipped) && allDone;
        } else {
            std::fprintf(stderr, "unknown measurement: %s\n", measurement.c_str());
            return 2;
        }
    }
    return allDone ? 0 : 1;
}
