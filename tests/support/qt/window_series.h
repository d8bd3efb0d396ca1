// A long stretch of real work for the window: a holding recorder
// (holding_recorder.h) writes Film#1.mpg, Film#2.mpg, ... one after another,
// holding each open for a while, and the window repairs each through the
// Linux file layer on its real 200 ms timer. Notes when the recorder let go
// of each file and when the window showed its status line, and what the
// process held meanwhile. Shared by the window soak and the latency benchmark.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "file_chooser.h"
#include "holding_recorder.h"
#include "linux_repair_files.h"
#include "main_window.h"
#include "mpeg_ps.h"
#include "process_usage.h"
#include "status_list.h"
#include "test_files.h"

namespace window_series {

// What the recorder writes as file n: the lost header as zeros, then data
// that differs from file to file, of differing lengths.
inline Bytes RecordedBytes(int n) {
    Bytes bytes(kPackSize + 4096 + static_cast<std::size_t>(n % 7) * 1500, 0);
    for (std::size_t i = kPackSize; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 31 + static_cast<std::size_t>(n) * 7 + 1);
    }
    return bytes;
}

inline Bytes RepairedBytes(int n) {
    Bytes bytes = RecordedBytes(n);
    const Bytes header = MakeHeaderPack();
    std::copy(header.begin(), header.end(), bytes.begin());
    return bytes;
}

inline std::string FollowUpPath(const std::string& directory, int n) {
    return directory + "/Film#" + std::to_string(n) + ".mpg";
}

class ChooseOnce final : public FileChooser {
public:
    explicit ChooseOnce(QString path) : path_(std::move(path)) {}
    QString ChooseBaseFile(QWidget*) override { return std::exchange(path_, {}); }

private:
    QString path_;
};

struct Outcome {
    bool started = false;
    bool recorderDone = false;
    int files = 0;
    int lines = 0;
    int linesCorrect = 0;
    int filesCorrect = 0;
    // Between the first repair and the last, with the window running.
    int descriptorsAfterFirst = 0;
    int descriptorsAfterLast = 0;
    long residentKiBAfterFirst = 0;
    long residentKiBAfterLast = 0;
    // Close to status line, in milliseconds, one per repaired file, sorted.
    std::vector<double> latenciesMs;

    double Percentile(double p) const {
        if (latenciesMs.empty()) {
            return 0;
        }
        const auto index =
            static_cast<std::size_t>(p / 100.0 * static_cast<double>(latenciesMs.size() - 1) + 0.5);
        return latenciesMs[std::min(index, latenciesMs.size() - 1)];
    }
};

// Runs the whole stretch and returns what it saw.
inline Outcome Run(int files, int minHoldMs, int maxHoldMs) {
    Outcome outcome;
    outcome.files = files;
    QTemporaryDir folder;
    const std::string directory = QFile::encodeName(folder.path()).toStdString();
    const Bytes header = MakeHeaderPack();
    if (!folder.isValid() || !WriteFile(directory + "/header.mpeg", header) ||
        !WriteFile(directory + "/Film.mpg", header)) {
        return outcome;
    }

    const QString previousDirectory = QDir::currentPath();
    QDir::setCurrent(folder.path());
    LinuxRepairFiles repairFiles;
    ChooseOnce chooser(folder.path() + "/Film.mpg");
    HoldingRecorder recorder({.directory = directory + "/",
                              .files = files,
                              .minHoldMs = minHoldMs,
                              .maxHoldMs = maxHoldMs,
                              .bytesOf = RecordedBytes});
    std::vector<std::int64_t> shownAt(static_cast<std::size_t>(files) + 1, 0);
    {
        MainWindow window(repairFiles, chooser);
        outcome.started = window.Start();
        QDir::setCurrent(previousDirectory);
        if (!outcome.started) {
            return outcome;
        }
        window.show();
        auto* list = window.findChild<StatusList*>(QStringLiteral("statusList"));
        QObject::connect(list, &StatusList::lineAdded, list, [&](int index) {
            if (index < files) {
                shownAt[static_cast<std::size_t>(index) + 1] = MonotonicNs();
            }
        });
        window.findChild<QPushButton*>(QStringLiteral("baseFileButton"))->click();
        window.findChild<QPushButton*>(QStringLiteral("toggleButton"))->click();
        if (!recorder.Start()) {
            return outcome;
        }
        // Looks every 100 ms whether all lines are there, notes what the
        // process holds after the first repair, and stops waiting once the
        // recorder is done and no line has come for 5 s.
        QEventLoop loop;
        QTimer look;
        int linesSeen = 0;
        std::int64_t lastLineAt = MonotonicNs();
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (list->LineCount() >= 1 && outcome.descriptorsAfterFirst == 0) {
                outcome.descriptorsAfterFirst = OpenDescriptorCount();
                outcome.residentKiBAfterFirst = ResidentKiB();
            }
            if (list->LineCount() != linesSeen) {
                linesSeen = list->LineCount();
                lastLineAt = MonotonicNs();
            }
            const bool stalled =
                recorder.ClosedAt(files) != 0 && MonotonicNs() - lastLineAt > 5'000'000'000;
            if (list->LineCount() >= files || stalled) {
                loop.quit();
            }
        });
        look.start(100);
        loop.exec();
        outcome.descriptorsAfterLast = OpenDescriptorCount();
        outcome.residentKiBAfterLast = ResidentKiB();
        outcome.recorderDone = recorder.Finish();
        outcome.lines = list->LineCount();
        for (int row = 0; row < list->LineCount(); ++row) {
            const QString expected =
                QStringLiteral("Header \"Film#%1.mpg\" restauriert!").arg(row + 1);
            outcome.linesCorrect += list->Line(row) == expected ? 1 : 0;
        }
    }
    for (int n = 1; n <= files; ++n) {
        if (ReadFile(FollowUpPath(directory, n)) == RepairedBytes(n)) {
            ++outcome.filesCorrect;
        }
        if (shownAt[static_cast<std::size_t>(n)] != 0 && recorder.ClosedAt(n) != 0) {
            outcome.latenciesMs.push_back(
                static_cast<double>(shownAt[static_cast<std::size_t>(n)] - recorder.ClosedAt(n)) /
                1e6);
        }
    }
    std::sort(outcome.latenciesMs.begin(), outcome.latenciesMs.end());
    return outcome;
}

}  // namespace window_series
