// The Linux window under load, measured in one run:
// - the cost of a status line at 100,000 lines against its cost at 100;
// - the time from a recorder's close of a follow-up file to its status line,
//   on the real 200 ms timer;
// - the processor time the program takes while it waits on a missing file,
//   and while it only waits for a base file.
// Prints the figures against their goals at the end.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "linux_repair_files.h"
#include "main_window.h"
#include "process_files.h"
#include "status_list.h"
#include "window_series.h"

namespace {

using Clock = std::chrono::steady_clock;

// --- Status list -------------------------------------------------------------

// A shown window whose status list holds the given number of lines.
struct WindowWithLines {
    explicit WindowWithLines(int lines) : window(files, chooser) {
        window.show();
        list = window.findChild<StatusList*>(QStringLiteral("statusList"));
        for (int i = 0; i < lines; ++i) {
            Append(i);
        }
        QCoreApplication::processEvents();
    }
    void Append(int n) {
        const std::string name = "Film#" + std::to_string(n % 65536) + ".mpg";
        window.AppendLogLine(kStatusPrefix, name.c_str(), kRepairedSuffix);
    }

    LinuxRepairFiles files;
    window_series::ChooseOnce chooser{QString()};
    MainWindow window;
    StatusList* list = nullptr;
};

constexpr int kFewLines = 100;
constexpr int kManyLines = 100000;
constexpr int kLinesPerBatch = 20;

// Each iteration adds a batch of lines to the short list and a batch to the
// long one, in alternating order, each line followed by the event handling
// that draws it, as after a tick. The ratio reported is the median over all
// batch pairs, which passing load from other programs cannot tilt.
void StatusLineAt100000Versus100(benchmark::State& state) {
    // The list never loses a line, so the short one is made afresh for each
    // batch, and the long one grows by a batch each time (4 % in all).
    std::optional<WindowWithLines> few;
    WindowWithLines many(kManyLines);
    auto timeBatch = [](WindowWithLines& target) {
        const int size = target.list->LineCount();
        const auto start = Clock::now();
        for (int i = 0; i < kLinesPerBatch; ++i) {
            target.Append(size + i);
            QCoreApplication::processEvents();
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    std::vector<double> ratios;
    double fewSeconds = 0;
    double manySeconds = 0;
    bool fewFirst = true;
    for (auto _ : state) {
        state.PauseTiming();
        few.reset();
        few.emplace(kFewLines);
        state.ResumeTiming();
        double fewTime;
        double manyTime;
        if (fewFirst) {
            fewTime = timeBatch(*few);
            manyTime = timeBatch(many);
        } else {
            manyTime = timeBatch(many);
            fewTime = timeBatch(*few);
        }
        fewFirst = !fewFirst;
        fewSeconds += fewTime;
        manySeconds += manyTime;
        ratios.push_back(manyTime / fewTime);
        state.SetIterationTime(manyTime);
    }
    std::sort(ratios.begin(), ratios.end());
    const auto perLine = [&state](double seconds) {
        return seconds * 1e9 / static_cast<double>(state.iterations() * kLinesPerBatch);
    };
    state.counters["ns_at_100"] = perLine(fewSeconds);
    state.counters["ns_at_100000"] = perLine(manySeconds);
    state.counters["ratio"] = ratios.empty() ? 0 : ratios[ratios.size() / 2];
    const auto grown = static_cast<int>(kManyLines + state.iterations() * kLinesPerBatch);
    if (many.list->LineCount() != grown || many.list->TopIndex() <= kManyLines) {
        state.SkipWithError("the long list lost lines or did not scroll");
    }
}

// --- Close to repair -----------------------------------------------------------

int LatencyFiles() {
    return qEnvironmentVariableIsSet("VELMORA_LATENCY_FILES")
               ? qEnvironmentVariableIntValue("VELMORA_LATENCY_FILES")
               : 200;
}

// Each file held 250 to 400 ms, longer than a tick, so that every close
// meets a window that is already waiting for that file.
void CloseToStatusLine(benchmark::State& state) {
    for (auto _ : state) {
        const auto start = Clock::now();
        const window_series::Outcome outcome = window_series::Run(LatencyFiles(), 250, 400);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.counters["files"] = outcome.files;
        state.counters["repaired_right"] = outcome.filesCorrect;
        state.counters["p50_ms"] = outcome.Percentile(50);
        state.counters["p99_ms"] = outcome.Percentile(99);
        state.counters["max_ms"] = outcome.Percentile(100);
        state.counters["rss_delta_kib"] =
            static_cast<double>(outcome.residentKiBAfterLast - outcome.residentKiBAfterFirst);
        if (outcome.filesCorrect != outcome.files || outcome.linesCorrect != outcome.files) {
            state.SkipWithError("not every file was repaired right");
        }
    }
}

// --- Processor time while waiting ----------------------------------------------

// Processor time of a process, all its threads, in nanoseconds from the
// kernel's own accounting (its process CPU-time clock), and in clock ticks
// as /proc/PID/stat has it.
struct CpuTime {
    double clockNs = 0;
    long statTicks = 0;
};

CpuTime ReadCpuTime(qint64 pid) {
    CpuTime time;
    clockid_t clock{};
    timespec used{};
    if (clock_getcpuclockid(static_cast<pid_t>(pid), &clock) == 0 &&
        clock_gettime(clock, &used) == 0) {
        time.clockNs = static_cast<double>(used.tv_sec) * 1e9 + static_cast<double>(used.tv_nsec);
    }
    const QString base = QStringLiteral("/proc/%1").arg(pid);
    QFile stat(base + "/stat");
    if (stat.open(QIODevice::ReadOnly)) {
        // Fields after the command name, which is in parentheses: utime and
        // stime are the 12th and 13th of them.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        time.statTicks = fields.value(11).toLong() + fields.value(12).toLong();
    }
    return time;
}

constexpr int kWaitSeconds = 10;

// Starts program in a folder with a template and a base file whose first
// follow-up never appears, waits for readyLine on its output (when given),
// and measures its processor time over kWaitSeconds.
void MeasureWaiting(benchmark::State& state, const QString& program, const QStringList& arguments,
                    const QByteArray& readyLine) {
    QTemporaryDir folder;
    const std::vector<unsigned char> header = MakeHeaderPack();
    for (const char* name : {"header.mpeg", "Film.mpg"}) {
        QFile file(folder.path() + "/" + name);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(header.data()),
                       static_cast<qint64>(header.size())) != static_cast<qint64>(header.size())) {
            state.SkipWithError("cannot write the workspace");
            return;
        }
    }
    QStringList withBase = arguments;
    withBase.replaceInStrings(QStringLiteral("{base}"), folder.path() + "/Film.mpg");
    for (auto _ : state) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", folder.path() + "/config");
        if (!environment.contains("QT_QPA_PLATFORM")) {
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        }
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(folder.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, withBase);
        if (!process.waitForStarted()) {
            state.SkipWithError("the program did not start");
            return;
        }
        // Ready: the line was printed, or without one, the template is held.
        const QString headerPath = folder.path() + "/header.mpeg";
        QByteArray output;
        const auto ready = [&] {
            return readyLine.isEmpty() ? ProcessHolds(process.processId(), headerPath)
                                       : output.contains(readyLine);
        };
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!ready() && Clock::now() < deadline && process.state() == QProcess::Running) {
            process.waitForReadyRead(100);
            output += process.readAllStandardOutput();
        }
        if (!ready()) {
            state.SkipWithError("the program did not get ready");
            return;
        }
        // Settled: the start-up's own work is over.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const CpuTime before = ReadCpuTime(process.processId());
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(kWaitSeconds));
        const CpuTime after = ReadCpuTime(process.processId());
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        kill(static_cast<pid_t>(process.processId()), SIGTERM);
        process.waitForFinished(10000);
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = (after.clockNs - before.clockNs) / (wall * 1e9) * 100;
        state.counters["cpu_ms"] = (after.clockNs - before.clockNs) / 1e6;
        state.counters["stat_ticks"] = static_cast<double>(after.statTicks - before.statTicks);
        state.counters["stat_cpu_percent"] =
            static_cast<double>(after.statTicks - before.statTicks) /
            static_cast<double>(sysconf(_SC_CLK_TCK)) / wall * 100;
    }
}

// velmora-driver chooses Film.mpg and presses Start; Film#1.mpg never comes.
void WaitingOnAMissingFile(benchmark::State& state) {
    MeasureWaiting(state, QStringLiteral(VELMORA_DRIVER), {QStringLiteral("{base}")}, "started");
}

// The installed program as it starts: ticking, no base file chosen yet.
void WaitingForABaseFile(benchmark::State& state) {
    MeasureWaiting(state, QStringLiteral(VELMORA_PROGRAM), {}, QByteArray());
}

BENCHMARK(StatusLineAt100000Versus100)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(CloseToStatusLine)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(WaitingOnAMissingFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(WaitingForABaseFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

// Keeps each benchmark's counters for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto& kept = counters[run.run_name.function_name];
            for (const auto& [name, counter] : run.counters) {
                kept[name] = counter.value;
            }
            if (run.error_occurred) {
                failed = true;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    bool Ran(const std::string& benchmark) const { return counters.count(benchmark) != 0; }
    double Get(const std::string& benchmark, const std::string& counter) {
        return counters[benchmark][counter];
    }
    std::map<std::string, std::map<std::string, double>> counters;
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& r = reporter;
    std::printf("\nThe Linux window (%s)\n", qgetenv("QT_QPA_PLATFORM").constData());
    if (r.Ran("StatusLineAt100000Versus100")) {
        std::printf(
            "  status line: %.0f ns at 100 lines, %.0f ns at 100,000 lines, median ratio %.2f "
            "(goal <= 2)\n",
            r.Get("StatusLineAt100000Versus100", "ns_at_100"),
            r.Get("StatusLineAt100000Versus100", "ns_at_100000"),
            r.Get("StatusLineAt100000Versus100", "ratio"));
    }
    if (r.Ran("CloseToStatusLine")) {
        std::printf(
            "  close to status line over %.0f files (%.0f repaired right): p50 %.1f ms, p99 "
            "%.1f ms, max %.1f ms (goal p99 <= 220 ms); resident memory %+.0f KiB\n",
            r.Get("CloseToStatusLine", "files"), r.Get("CloseToStatusLine", "repaired_right"),
            r.Get("CloseToStatusLine", "p50_ms"), r.Get("CloseToStatusLine", "p99_ms"),
            r.Get("CloseToStatusLine", "max_ms"), r.Get("CloseToStatusLine", "rss_delta_kib"));
    }
    for (const char* name : {"WaitingOnAMissingFile", "WaitingForABaseFile"}) {
        if (r.Ran(name)) {
            std::printf(
                "  %s: %.2f ms of processor time in %d s, %.4f %% of a core "
                "(/proc/PID/stat: %.0f ticks) (goal <= 0.1 %%)\n",
                name, r.Get(name, "cpu_ms"), kWaitSeconds, r.Get(name, "cpu_percent"),
                r.Get(name, "stat_ticks"));
        }
    }
    benchmark::Shutdown();
    return r.failed ? 1 : 0;
}
