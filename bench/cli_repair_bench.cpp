// velmora-cli repair over an existing series of follow-up files, with its
// sync at the end and with that sync skipped (the sync shim preloaded),
// beside the same files done with `dd conv=notrunc`, one process per file, in
// the same run. Every run is checked: each file must start with the template
// after it and keep its other bytes, repair must report each file once, and
// it must have called syncfs once (really, or skipped by the shim).
//   velmora_cli_repair_bench [FILES]     (default 10,000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli_process.h"
#include "sync_shim.h"
#include "test_files.h"

namespace {

constexpr std::size_t kTemplateSize = 2048;
constexpr std::size_t kFileSize = 16384;
constexpr double kGoalFilesPerSecond = 20000;

using Clock = std::chrono::steady_clock;

std::string FollowUpName(int n) {
    return "Film#" + std::to_string(n) + ".mpg";
}

// Every follow-up file with its head lost: zeros where the template goes.
void DamageSeries(const TempDir& dir, int files, const Bytes& damaged) {
    for (int n = 1; n <= files; ++n) {
        WriteFile(dir / FollowUpName(n), damaged);
    }
}

bool SeriesIsRepaired(const TempDir& dir, int files, const Bytes& expected) {
    for (int n = 1; n <= files; ++n) {
        if (ReadFile(dir / FollowUpName(n)) != expected) {
            std::printf("  %s is not as it must be\n", FollowUpName(n).c_str());
            return false;
        }
    }
    return true;
}

int CountLines(const std::string& text, const std::string& ending);

struct RepairRun {
    double seconds;
    bool done;  // every file repaired and reported, and the one syncfs made
};

// One timed `velmora-cli repair Film.mpg` over a freshly damaged series. The
// damage is synced first, so that the sync timed is the repair's own.
RepairRun TimeRepair(const TempDir& dir, int files, const Bytes& damaged, const Bytes& repaired,
                     SyncMode mode) {
    DamageSeries(dir, files, damaged);
    sync();
    SyncShim shim(mode);
    const auto start = Clock::now();
    const CliRun run = RunCli({"repair", "Film.mpg"}, dir.path());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool ran = run.exitCode == 0;
    const int lines = CountLines(run.out, "\" restauriert!");
    const long long syncs = shim.FileSystemSyncs();
    const bool done = ran && lines == files && syncs == 1 && SeriesIsRepaired(dir, files, repaired);
    if (!done) {
        std::printf(
            "repair FAILED: exit ok %d, %d of %d files reported, %lld syncfs calls; the time "
            "measures the wrong thing\n",
            ran, lines, files, syncs);
    }
    return {seconds, done};
}

int CountLines(const std::string& text, const std::string& ending) {
    int count = 0;
    std::string line;
    for (const char c : text) {
        if (c != '\n') {
            line += c;
            continue;
        }
        count += line.size() >= ending.size() &&
                 line.compare(line.size() - ending.size(), ending.size(), ending) == 0;
        line.clear();
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    TempDir dir;
    const Bytes headerBytes = Pattern(kTemplateSize, 3);
    WriteFile(dir / "header.mpeg", headerBytes);
    WriteFile(dir / "Film.mpg", Pattern(kFileSize, 1));
    Bytes damaged = Pattern(kFileSize, 2);
    std::fill(damaged.begin(), damaged.begin() + kTemplateSize, 0);
    Bytes repaired = damaged;
    std::copy(headerBytes.begin(), headerBytes.end(), repaired.begin());

    const RepairRun synced = TimeRepair(dir, files, damaged, repaired, SyncMode::Real);
    const RepairRun unsynced = TimeRepair(dir, files, damaged, repaired, SyncMode::Skipped);
    if (!synced.done || !unsynced.done) {
        return 1;
    }

    DamageSeries(dir, files, damaged);
    const auto ddStart = Clock::now();
    for (int n = 1; n <= files; ++n) {
        if (RunProgram({"dd", "if=header.mpeg", "of=" + FollowUpName(n), "bs=2048", "count=1",
                        "conv=notrunc", "status=none"},
                       dir.path())
                .exitCode != 0) {
            std::printf("dd FAILED on %s\n", FollowUpName(n).c_str());
            return 1;
        }
    }
    const double ddSeconds = std::chrono::duration<double>(Clock::now() - ddStart).count();
    if (!SeriesIsRepaired(dir, files, repaired)) {
        std::printf("dd FAILED: the series is not as it must be\n");
        return 1;
    }

    const double repairRate = files / synced.seconds;
    const double ddRate = files / ddSeconds;
    std::printf("velmora-cli repair of %d follow-up files (%zu bytes each, template %zu bytes)\n",
                files, kFileSize, kTemplateSize);
    std::printf(
        "  velmora-cli repair, syncfs at the end  %8.3f s   %9.0f files/s   (goal >= %.0f)\n",
        synced.seconds, repairRate, kGoalFilesPerSecond);
    std::printf("  the same, its sync skipped             %8.3f s   %9.0f files/s\n",
                unsynced.seconds, files / unsynced.seconds);
    std::printf("  dd conv=notrunc each                   %8.3f s   %9.0f files/s\n", ddSeconds,
                ddRate);
    std::printf("  ratio repair (synced)/dd               %8.1f x\n", repairRate / ddRate);
    return 0;
}
