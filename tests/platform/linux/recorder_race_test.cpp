// A recorder that takes no locks at all races the repair: a child process
// creates the follow-up files and opens, writes and closes them again and
// again at random intervals, while this process drives the controller's ticks
// over the real Linux file layer as fast as they go. A board in shared memory
// shows which file the recorder has open at each moment; a wrapper around the
// file layer looks at it on every write of the program. At the end every file
// must hold the template in front and exactly the recorder's bytes after it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dialog_choice.h"
#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "lock_free_recorder.h"
#include "proof_support.h"
#include "repair_controller.h"

namespace {

// The file layer under test, wrapped: every write of the program looks at
// the board before and after it.
class WatchedFiles final : public ForwardingFiles {
public:
    WatchedFiles(RepairFiles& inner, RecorderBoard& board)
        : ForwardingFiles(inner), board_(board) {}

    long openTries = 0;
    long refusedWhileRecorderHeld = 0;  // the kernel kept the program out
    long writes = 0;
    long overlappingWrites = 0;

    FileHandle OpenForWriting(FolderHandle folder, const char* name, const char* baseName,
                              OpenFailure* failure) override {
        ++openTries;
        const FileHandle file = ForwardingFiles::OpenForWriting(folder, name, baseName, failure);
        if (file != kNoFile) {
            heldNumber_ = NumberOf(name);
        } else if (board_.openFile == NumberOf(name)) {
            ++refusedWhileRecorderHeld;
        }
        return file;
    }
    FileResult WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                          std::uint32_t* bytesWritten) override {
        ++writes;
        bool overlap = board_.openFile == heldNumber_;
        const FileResult result = ForwardingFiles::WriteBytes(file, bytes, count, bytesWritten);
        overlap = overlap || board_.openFile == heldNumber_;
        if (overlap) {
            ++overlappingWrites;
        }
        return result;
    }

private:
    static int NumberOf(const char* name) {
        const char* number = std::strchr(name, '#');
        return number ? std::atoi(number + 1) : -1;
    }

    RecorderBoard& board_;
    int heldNumber_ = -1;
};

// What a file layer would be with advisory locks in place of the lease: the
// race has to catch it. Only the open for writing differs from the real layer.
class AdvisoryLockFiles final : public ForwardingFiles {
public:
    using ForwardingFiles::ForwardingFiles;

    FolderHandle HoldFolder(const char* directory) override {
        directory_ = directory;
        return ForwardingFiles::HoldFolder(directory);
    }
    FileHandle OpenForWriting(FolderHandle, const char* name, const char*,
                              OpenFailure* failure) override {
        *failure = OpenFailure::Unavailable;
        const int fd = open((directory_ + name).c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) {
            return kNoFile;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return kNoFile;
        }
        *failure = OpenFailure::None;
        return fd;
    }
    // No lease was taken, so there is none to give up.
    void StopWriting(FileHandle /*file*/) override {}
    void CloseFile(FileHandle file) override { close(static_cast<int>(file)); }

private:
    std::string directory_;
};

struct RaceResult {
    long recorderOpens = 0;
    long contendedOpens = 0;
    long engineOpenTries = 0;
    long refusedWhileRecorderHeld = 0;
    long writes = 0;
    long overlappingWrites = 0;
    long files = 0;
    long correctFiles = 0;
    long repairedLines = 0;
    long otherLines = 0;
    int recorderFailure = 0;
};

class RecorderRace {
public:
    explicit RecorderRace(RepairFiles& layer) : layer_(layer) {}

    // Runs one series: the recorder until it has made `attempts` opens, the
    // program until it has dealt with every file the recorder made.
    RaceResult Run(long attempts, unsigned seed, bool showMismatches) {
        RaceResult result;
        TempDir programDir;
        TempDir recordings;
        const Bytes headerTemplate = Pattern(kLostHeadSize, 77);
        WriteFile(programDir / "header.mpeg", headerTemplate);
        LockFreeRecorder recorder({.directory = recordings.path(),
                                   .series = seed,
                                   .opens = attempts,
                                   .maxSessions = 12,
                                   .writeBase = false});
        if (recorder.board() == nullptr) {
            result.recorderFailure = -1;
            return result;
        }
        RecorderBoard& board = *recorder.board();
        WatchedFiles files(layer_, board);
        CountingView view;
        RepairController controller(view, files);
        if (!StartUpIn(controller, programDir.path())) {
            result.recorderFailure = -2;
            return result;
        }
        ChooseAndStart(controller, recordings / "Film.mpg");
        // The recorder begins once the program waits for its first file.
        if (!recorder.Start()) {
            result.recorderFailure = -1;
            return result;
        }

        int checked = 0;  // files 1..checked are checked and gone
        for (long tick = 0;; ++tick) {
            controller.OnTick();
            const int tried = controller.SequenceCounter();
            board.contestedFile = tried;
            // Files the recorder has finished and the program has passed are
            // checked and removed, so the folder stays small.
            const int recorded = recorder.files();
            while (checked < recorded && checked + 1 < tried) {
                const std::string path = recordings / FollowUpOf("Film", ++checked);
                const std::string mismatch = recorder.Mismatch(path, headerTemplate, checked);
                result.correctFiles += mismatch.empty() ? 1 : 0;
                if (!mismatch.empty() && showMismatches) {
                    std::printf("%s\n", mismatch.c_str());
                }
                unlink(path.c_str());
            }
            if (recorder.done() && checked == recorder.files()) {
                break;
            }
            if ((tick & 0xFFFF) == 0 && recorder.Died()) {
                result.recorderFailure = -3;
                break;
            }
        }
        recorder.Wait();
        controller.OnShutdown();

        result.recorderOpens = board.opens;
        result.contendedOpens = board.contendedOpens;
        result.engineOpenTries = files.openTries;
        result.refusedWhileRecorderHeld = files.refusedWhileRecorderHeld;
        result.writes = files.writes;
        result.overlappingWrites = files.overlappingWrites;
        result.files = recorder.files();
        result.repairedLines = view.repaired;
        result.otherLines = view.notRepaired + view.otherLines + view.errors;
        if (result.recorderFailure == 0) {
            result.recorderFailure = recorder.failure();
        }
        return result;
    }

private:
    RepairFiles& layer_;
};

void Print(const char* what, const RaceResult& r) {
    std::printf(
        "%s: recorder opens %ld (on the file the program was trying: %ld), program open tries "
        "%ld (refused while the recorder held the file: %ld), writes %ld, overlapping writes "
        "%ld, files %ld, correct %ld\n",
        what, r.recorderOpens, r.contendedOpens, r.engineOpenTries, r.refusedWhileRecorderHeld,
        r.writes, r.overlappingWrites, r.files, r.correctFiles);
}

TEST(RecorderRace, NoWriteWhileTheRecorderHasTheFileOpen) {
    const long attempts = RunSize("VELMORA_RACE_ATTEMPTS", kUnderAddressSanitizer ? 20000 : 100000);
    LinuxRepairFiles layer;
    RecorderRace race(layer);
    RaceResult total;
    for (unsigned series = 1; total.recorderOpens < attempts; ++series) {
        const RaceResult r = race.Run(attempts - total.recorderOpens, 1000 + series, true);
        ASSERT_EQ(r.recorderFailure, 0);
        ASSERT_GT(r.files, 0);
        EXPECT_EQ(r.overlappingWrites, 0);
        EXPECT_EQ(r.correctFiles, r.files);
        EXPECT_EQ(r.repairedLines, r.files);
        EXPECT_EQ(r.writes, r.files);
        EXPECT_EQ(r.otherLines, 0);
        total.recorderOpens += r.recorderOpens;
        total.contendedOpens += r.contendedOpens;
        total.engineOpenTries += r.engineOpenTries;
        total.refusedWhileRecorderHeld += r.refusedWhileRecorderHeld;
        total.writes += r.writes;
        total.overlappingWrites += r.overlappingWrites;
        total.files += r.files;
        total.correctFiles += r.correctFiles;
    }
    Print("race with the lease", total);
    EXPECT_GE(total.recorderOpens, attempts);
    // The race is only a race if the program met the recorder on its file.
    EXPECT_GT(total.refusedWhileRecorderHeld, 0);
}

// The same race with advisory locks in place of the lease: the board must see
// the program write into files the recorder holds, and the check of the
// contents must find headers the recorder overwrote.
TEST(RecorderRace, CatchesALayerThatOnlyTakesAdvisoryLocks) {
    LinuxRepairFiles real;
    AdvisoryLockFiles layer(real);
    RecorderRace race(layer);
    const RaceResult r = race.Run(20000, 7, false);
    Print("race with advisory locks", r);
    ASSERT_EQ(r.recorderFailure, 0);
    EXPECT_GT(r.overlappingWrites, 0);
    EXPECT_LT(r.correctFiles, r.files);  // and the recorder wrote over headers
}

}  // namespace
