// OnTick over the real Linux file layer, each case beside the system calls it
// cannot do without (its floor), measured in the same run. Prints the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "dialog_choice.h"
#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "repair_controller.h"
#include "tick_floors.h"

namespace {

constexpr std::size_t kTemplateSize = 2048;

// Each iteration runs a batch of ticks and a batch of their floor on the same
// kind of file, in alternating order, so both see the same machine load and
// the same caches.
constexpr int kBatch = 64;
// The repair cases cycle through this many real follow-up files, starting the
// series afresh before it runs out, so every tick has a file to repair.
constexpr int kSeriesFiles = 8 * kBatch;

// A view that counts what the controller reports, so each batch can be
// checked for the work its case names. Leaner than the tests' CountingView:
// it keeps no copy of a line, so the view adds next to nothing to a tick.
class CountingView final : public RepairView {
public:
    void ShowError(const char*) override { ++errors; }
    void CloseMainWindow() override {}
    void ReadPostfixField(char* buffer, std::size_t size) override {
        std::snprintf(buffer, size, "#");
    }
    void SetCurrentFileText(const char*) override {}
    void SetToggleCaption(const char*) override {}
    void EnableToggle() override {}
    void AppendLogLine(const char* before, const char*, const char* after) override {
        const bool repaired =
            std::string_view(before) == kStatusPrefix && std::string_view(after) == kRepairedSuffix;
        ++(repaired ? repairedLines : otherLines);
    }

    long errors = 0;
    long repairedLines = 0;
    long otherLines = 0;
};

// A started controller, running on recordings/Film.mpg.
struct RunningTool {
    RunningTool() {
        WriteFile(programDir / "header.mpeg", Pattern(kTemplateSize, 1));
        started = StartUpIn(controller, programDir.path());
        StartSeries();
    }
    ~RunningTool() { controller.OnShutdown(); }

    // Chooses Film.mpg again and presses Start: the next tick works on Film#1.mpg.
    void StartSeries() { ChooseAndStart(controller, recordings / "Film.mpg"); }

    std::string FollowUpPath(int n) const {
        return recordings / ("Film#" + std::to_string(n) + ".mpg");
    }
    // Film#1.mpg to Film#<kSeriesFiles>.mpg as real files, each with bytes
    // after the header. Returns their paths, Film#1.mpg first.
    std::vector<std::string> CreateSeries() {
        std::vector<std::string> paths;
        for (int n = 1; n <= kSeriesFiles; ++n) {
            paths.push_back(FollowUpPath(n));
            WriteFile(paths.back(), Pattern(kTemplateSize * 2, 2));
        }
        return paths;
    }

    TempDir programDir;
    TempDir recordings;
    LinuxRepairFiles files;
    CountingView view;
    RepairController controller{view, files};
    bool started = false;
};

// What a tick batch has to show for itself.
struct TickRecord {
    unsigned counter;
    long repairedLines;
    long otherLines;
    long errors;
    bool running;
};

TickRecord RecordOf(const RunningTool& tool) {
    return {tool.controller.SequenceCounter(), tool.view.repairedLines, tool.view.otherLines,
            tool.view.errors, tool.controller.IsRunning()};
}

// Null when the batch between before and after repaired exactly `repairs`
// files (each tick one, or none), else what went wrong.
const char* CheckTickBatch(const TickRecord& before, const TickRecord& after, int repairs) {
    if (!after.running || after.errors != before.errors || after.otherLines != before.otherLines) {
        return "a tick stopped the series, showed an error or wrote an unexpected line";
    }
    if (after.repairedLines - before.repairedLines != repairs) {
        return repairs == 0 ? "a tick repaired a file it must not take"
                            : "a tick did not repair its file";
    }
    if (static_cast<std::uint16_t>(after.counter - before.counter) != repairs) {
        return "the series did not move on by one file per repair";
    }
    return nullptr;
}

// Every case that failed, with why, for the summary and the exit status.
// (The console shows only aggregates, which leave failed runs out.)
std::map<std::string, std::string> failures;

void Fail(benchmark::State& state, const std::string& caseName, const char* why) {
    failures.emplace(caseName, why);
    state.SkipWithError(why);
}

// The tick batch's time is the benchmark's time; the ratio reported is the
// median over all batch pairs, which other programs' passing load cannot
// tilt. Before each pair, prepare() sets the case up again, untimed. Each
// tick batch must repair `repairs` files, each floor call must succeed, or
// the case fails.
template <typename Prepare, typename Floor>
void MeasurePaired(benchmark::State& state, const char* caseName, RunningTool& tool, int repairs,
                   Prepare prepare, Floor floor) {
    using Clock = std::chrono::steady_clock;
    if (!tool.started) {
        Fail(state, caseName, "the template did not load");
        return;
    }
    auto timeTicks = [&] {
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            tool.controller.OnTick();
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    int floorFailures = 0;
    auto timeFloor = [&] {
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            floorFailures += floor() ? 0 : 1;
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    std::vector<double> ratios;
    double floorSeconds = 0;
    bool tickFirst = true;
    for (auto _ : state) {
        prepare();
        const TickRecord before = RecordOf(tool);
        double tickTime;
        double floorTime;
        if (tickFirst) {
            tickTime = timeTicks();
            floorTime = timeFloor();
        } else {
            floorTime = timeFloor();
            tickTime = timeTicks();
        }
        if (const char* fault = CheckTickBatch(before, RecordOf(tool), repairs)) {
            Fail(state, caseName, fault);
            return;
        }
        if (floorFailures != 0) {
            Fail(state, caseName, "the floor's system calls did not go as the case needs");
            return;
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
        state, "Missing", tool, 0, [] {}, [&] { return MissingFloor(path); });
}

void Busy(benchmark::State& state) {
    RunningTool tool;
    const std::string path = tool.FollowUpPath(1);
    WriteFile(path, Pattern(kTemplateSize, 2));
    HolderProcess recorder(path, O_RDONLY);
    if (!recorder.held()) {
        Fail(state, "Busy", "the recorder could not hold the file");
        return;
    }
    MeasurePaired(
        state, "Busy", tool, 0, [] {}, [&] { return BusyFloor(path); });
}

void Repair(benchmark::State& state) {
    RunningTool tool;
    const std::vector<std::string> paths = tool.CreateSeries();
    const Bytes head = Pattern(kTemplateSize, 1);
    std::size_t floorNext = 0;
    auto startAgainBeforeTheSeriesRunsOut = [&] {
        if (tool.controller.SequenceCounter() + kBatch - 1 > kSeriesFiles) {
            tool.StartSeries();
        }
    };
    MeasurePaired(state, "Repair", tool, kBatch, startAgainBeforeTheSeriesRunsOut, [&] {
        const std::string& path = paths[floorNext];
        floorNext = (floorNext + 1) % paths.size();
        return RepairFloor(path, head);
    });
}

constexpr int kRepetitions = 5;

BENCHMARK(Missing)->UseManualTime()->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(Busy)->UseManualTime()->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(Repair)->UseManualTime()->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

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
            if (run.aggregate_name == "median" && run.counters.count("ratio") == 1) {
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
        "  (each floor is the system calls its tick needs: a look at the name without\n"
        "   opening it, its type, write access and file system; for a busy file a\n"
        "   read-only open that is refused the lease; for a repair that probe granted,\n"
        "   then the open for writing, its lease, an fstat and the write)\n");
    for (const auto& [kind, m] : reporter.medians) {
        if (failures.count(kind) == 0) {
            std::printf("  %-16s tick %8.0f ns   floor %8.0f ns   ratio %.3f\n", kind.c_str(),
                        m.tick / kBatch, m.floor / kBatch, m.ratio);
        }
    }
    for (const auto& [kind, why] : failures) {
        std::printf("  %-16s FAILED: %s; its time measures the wrong thing\n", kind.c_str(),
                    why.c_str());
    }
    benchmark::Shutdown();
    return failures.empty() ? 0 : 1;
}
