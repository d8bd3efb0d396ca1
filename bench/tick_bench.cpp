// OnTick over the real Linux file layer, each case beside the system calls it
// cannot do without (its floor), measured in the same run. Prints the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "dialog_choice.h"
#include "posix_repair_files.h"
#include "posix_test_support.h"
#include "repair_controller.h"

namespace {

constexpr std::size_t kTemplateSize = 2048;
constexpr int kOpenFlags = O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

class NullView final : public RepairView {
public:
    void ShowError(const char*) override {}
    void CloseMainWindow() override {}
    void ReadPostfixField(char* buffer, std::size_t size) override {
        std::snprintf(buffer, size, "#");
    }
    void SetCurrentFileText(const char*) override {}
    void SetToggleCaption(const char*) override {}
    void EnableToggle() override {}
    void AppendLogLine(const char*) override {}
};

// A started controller, running on recordings/Film.mpg.
struct RunningTool {
    RunningTool() {
        WriteFile(programDir / "header.mpeg", Pattern(kTemplateSize, 1));
        ScopedWorkingDirectory cwd(programDir.path());
        started = controller.OnStartup();
        ChooseBaseFile(controller, recordings / "Film.mpg");
        controller.OnToggle();
    }
    ~RunningTool() { controller.OnShutdown(); }

    std::string FollowUpPath(unsigned n) const {
        return recordings / ("Film#" + std::to_string(n) + ".mpg");
    }
    // Every follow-up name of the series, as links to one file, so the
    // repair can go on for any number of ticks. Returns the paths by number.
    std::vector<std::string> CreateWholeSeries() {
        std::vector<std::string> paths;
        paths.push_back(FollowUpPath(0));
        WriteFile(paths[0], Pattern(kTemplateSize * 2, 2));
        for (unsigned n = 1; n <= 65535; ++n) {
            paths.push_back(FollowUpPath(n));
            (void)!link(paths[0].c_str(), paths[n].c_str());
        }
        return paths;
    }

    TempDir programDir;
    TempDir recordings;
    PosixRepairFiles files;
    NullView view;
    RepairController controller{view, files};
    bool started = false;
};

// Each iteration runs a batch of ticks and a batch of their floor on the same
// kind of file, in alternating order, so both see the same machine load and
// the same caches. The tick batch's time is the benchmark's time; the ratio
// reported is the median over all batch pairs, which other programs'
// passing load cannot tilt.
constexpr int kBatch = 64;

template <typename Tick, typename Floor>
void MeasurePaired(benchmark::State& state, Tick tick, Floor floor) {
    using Clock = std::chrono::steady_clock;
    auto timeBatch = [](auto&& operation) {
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            operation();
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    std::vector<double> ratios;
    double floorSeconds = 0;
    bool tickFirst = true;
    for (auto _ : state) {
        double tickTime;
        double floorTime;
        if (tickFirst) {
            tickTime = timeBatch(tick);
            floorTime = timeBatch(floor);
        } else {
            floorTime = timeBatch(floor);
            tickTime = timeBatch(tick);
        }
        tickFirst = !tickFirst;
        floorSeconds += floorTime;
        ratios.push_back(tickTime / floorTime);
        state.SetIterationTime(tickTime);
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["floor_ns"] = floorSeconds * 1e9 / static_cast<double>(state.iterations());
    state.counters["ratio"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void Missing(benchmark::State& state) {
    RunningTool tool;
    const std::string path = tool.FollowUpPath(1);
    MeasurePaired(
        state, [&] { tool.controller.OnTick(); },
        [&] { benchmark::DoNotOptimize(open(path.c_str(), kOpenFlags)); });
}

void Busy(benchmark::State& state) {
    RunningTool tool;
    const std::string path = tool.FollowUpPath(1);
    WriteFile(path, Pattern(kTemplateSize, 2));
    HolderProcess recorder(path, O_RDONLY);
    MeasurePaired(
        state, [&] { tool.controller.OnTick(); },
        [&] {
            const int fd = open(path.c_str(), kOpenFlags);
            benchmark::DoNotOptimize(fcntl(fd, F_SETLEASE, F_WRLCK));
            close(fd);
        });
    if (tool.controller.SequenceCounter() != 1) {
        state.SkipWithError("a busy file was repaired");
    }
}

// The floor of a repair; withStatus adds the fstat the file layer needs to
// see that the file is not empty (and, for root, not read-only).
void MeasureRepair(benchmark::State& state, bool withStatus) {
    RunningTool tool;
    const std::vector<std::string> paths = tool.CreateWholeSeries();
    const Bytes head = Pattern(kTemplateSize, 1);
    std::uint16_t n = 0;
    MeasurePaired(
        state, [&] { tool.controller.OnTick(); },
        [&] {
            // Any name of the series: all are links to the same file.
            const int fd = open(paths[n++].c_str(), kOpenFlags);
            fcntl(fd, F_SETLEASE, F_WRLCK);
            if (withStatus) {
                struct stat status {};
                benchmark::DoNotOptimize(fstat(fd, &status));
            }
            benchmark::DoNotOptimize(pwrite(fd, head.data(), head.size(), 0));
            close(fd);
        });
    if (tool.controller.SequenceCounter() == 1) {
        state.SkipWithError("nothing was repaired");
    }
}

void Repair(benchmark::State& state) {
    MeasureRepair(state, false);
}

void RepairWithStatus(benchmark::State& state) {
    MeasureRepair(state, true);
}

constexpr int kRepetitions = 5;

BENCHMARK(Missing)->UseManualTime()->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(Busy)->UseManualTime()->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(Repair)->UseManualTime()->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(RepairWithStatus)->UseManualTime()->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

// Keeps the median tick time, floor time and ratio of each case.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Medians {
        double tick = 0;
        double floor = 0;
        double ratio = 0;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                Medians& m = medians[run.run_name.function_name];
                m.tick = run.GetAdjustedRealTime();
                m.floor = run.counters.at("floor_ns");
                m.ratio = run.counters.at("ratio");
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, Medians> medians;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nOnTick against its system-call floor (medians of %d runs; target <= 1.10)\n",
                kRepetitions);
    std::printf(
        "  (Repair's floor is open + lease + pwrite + close; a repair also needs one\n"
        "   fstat, to wait on an empty file and for root's read-only rule, which\n"
        "   RepairWithStatus's floor includes)\n");
    for (const auto& [kind, m] : reporter.medians) {
        std::printf("  %-16s tick %8.0f ns   floor %8.0f ns   ratio %.3f\n", kind.c_str(),
                    m.tick / kBatch, m.floor / kBatch, m.ratio);
    }
    benchmark::Shutdown();
    return 0;
}
