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
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "dialog_choice.h"
#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "proof_support.h"
#include "repair_controller.h"

namespace {

constexpr std::uint32_t kTemplateSize = 2048;
// Files per series: below 65535, so that no name of a series comes twice.
constexpr int kMaxFilesPerSeries = 60000;

// Shared between the recorder and the program. Lock-free atomics work across
// processes in a shared anonymous mapping.
struct RaceBoard {
    std::atomic<int> recorderOpenFile;  // index of the file the recorder holds, or -1
    std::atomic<int> engineFile;        // index of the file the program tries next
    std::atomic<int> recordedFiles;     // files [0, n) are finished by the recorder
    std::atomic<bool> recorderDone;
    std::atomic<int> recorderFailure;  // nonzero: what went wrong in the recorder
    std::atomic<long> recorderOpens;
    std::atomic<long> contendedOpens;  // opens of a file the program was trying
    std::atomic<std::uint32_t> sizes[kMaxFilesPerSeries];
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long>::is_always_lock_free);

RaceBoard* MapBoard() {
    void* memory =
        mmap(nullptr, sizeof(RaceBoard), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) RaceBoard{};
}

std::string FollowUpName(int index) {
    return "Film#" + std::to_string(index + 1) + ".mpg";
}

// What the recorder puts at a position: a damaged head (zeros) where the
// template goes, then a pattern that tells files and positions apart.
unsigned char RecordedByte(int index, std::uint32_t position) {
    if (position < kTemplateSize) {
        return 0;
    }
    return static_cast<unsigned char>((position * 131u + static_cast<unsigned>(index) * 7u) % 251u);
}

// Random pauses: mostly none (close and reopen at once), sometimes a short
// spin, sometimes a real sleep that gives the program a free moment.
void Pause(std::mt19937& random) {
    const unsigned kind = random() % 10;
    if (kind < 6) {
        return;
    }
    if (kind < 9) {
        for (unsigned spin = random() % 4000; spin > 0; --spin) {
            std::atomic_signal_fence(std::memory_order_seq_cst);  // keeps the loop
        }
        return;
    }
    usleep(random() % 200);
}

// Writes the recorder's bytes [from, to) at their place in the file.
bool WritePiece(int fd, int index, std::uint32_t from, std::uint32_t to) {
    unsigned char bytes[8192];
    while (from < to) {
        const std::uint32_t count = std::min<std::uint32_t>(to - from, sizeof bytes);
        for (std::uint32_t i = 0; i < count; ++i) {
            bytes[i] = RecordedByte(index, from + i);
        }
        if (pwrite(fd, bytes, count, from) != static_cast<ssize_t>(count)) {
            return false;
        }
        from += count;
    }
    return true;
}

// The recorder, in the child: file after file, each written in 1 to 12
// sessions (open, a few writes, close), never with any lock. The first
// session writes the damaged head in two pieces, then data; later sessions
// append data in two pieces.
int Record(RaceBoard& board, const std::string& directory, long attempts, unsigned seed) {
    std::mt19937 random(seed);
    for (int index = 0; index < kMaxFilesPerSeries && board.recorderOpens < attempts; ++index) {
        const std::string path = directory + FollowUpName(index);
        const int sessions = 1 + static_cast<int>(random() % 12);
        std::uint32_t size = 0;
        for (int session = 0; session < sessions; ++session) {
            const int flags = O_WRONLY | O_CLOEXEC | (session == 0 ? O_CREAT | O_EXCL : 0);
            const bool contended = board.engineFile == index;
            // A plain blocking open, as a recorder does: while the program
            // holds the file, it waits until the program lets go.
            const int fd = open(path.c_str(), flags, 0644);
            if (fd < 0) {
                return 1;
            }
            board.recorderOpenFile = index;
            ++board.recorderOpens;
            if (contended) {
                ++board.contendedOpens;
            }
            const std::uint32_t middle = session == 0 ? kTemplateSize / 2 : size + 128;
            const std::uint32_t end =
                (session == 0 ? kTemplateSize : middle) + 128 + random() % 4096;
            if (!WritePiece(fd, index, size, middle)) {
                return 2;
            }
            Pause(random);
            if (!WritePiece(fd, index, middle, end)) {
                return 2;
            }
            size = end;
            board.recorderOpenFile = -1;
            close(fd);
            Pause(random);
        }
        board.sizes[index] = size;
        board.recordedFiles = index + 1;
    }
    return 0;
}

// The file layer under test, wrapped: every write of the program looks at
// the board before and after it.
class WatchedFiles final : public ForwardingFiles {
public:
    WatchedFiles(RepairFiles& inner, RaceBoard& board) : ForwardingFiles(inner), board_(board) {}

    long openTries = 0;
    long refusedWhileRecorderHeld = 0;  // the kernel kept the program out
    long writes = 0;
    long overlappingWrites = 0;

    FileHandle OpenForWriting(FolderHandle folder, const char* name, const char* baseName,
                              OpenFailure* failure) override {
        ++openTries;
        const FileHandle file = ForwardingFiles::OpenForWriting(folder, name, baseName, failure);
        if (file != kNoFile) {
            heldIndex_ = IndexOf(name);
        } else if (board_.recorderOpenFile == IndexOf(name)) {
            ++refusedWhileRecorderHeld;
        }
        return file;
    }
    bool WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                    std::uint32_t* bytesWritten) override {
        ++writes;
        bool overlap = board_.recorderOpenFile == heldIndex_;
        const bool result = ForwardingFiles::WriteBytes(file, bytes, count, bytesWritten);
        overlap = overlap || board_.recorderOpenFile == heldIndex_;
        if (overlap) {
            ++overlappingWrites;
        }
        return result;
    }

private:
    static int IndexOf(const char* name) {
        const char* number = std::strchr(name, '#');
        return number ? std::atoi(number + 1) - 1 : -2;
    }

    RaceBoard& board_;
    int heldIndex_ = -2;
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
        RaceBoard* board = MapBoard();
        if (board == nullptr) {
            result.recorderFailure = -1;
            return result;
        }
        board->recorderOpenFile = -1;
        board->engineFile = 0;

        TempDir programDir;
        TempDir recordings;
        WriteFile(programDir / "header.mpeg", Pattern(kTemplateSize, 77));
        WatchedFiles files(layer_, *board);
        CountingView view;
        RepairController controller(view, files);
        if (!StartUpIn(controller, programDir.path())) {
            result.recorderFailure = -2;
            return result;
        }
        ChooseAndStart(controller, recordings / "Film.mpg");

        const pid_t recorder = fork();
        if (recorder == 0) {
            const int failure = Record(*board, recordings.path(), attempts, seed);
            board->recorderFailure = failure;
            board->recorderDone = true;
            _exit(failure);
        }

        const Bytes expectedHead = Pattern(kTemplateSize, 77);
        int checked = 0;
        for (long tick = 0;; ++tick) {
            controller.OnTick();
            const int engineFile = controller.SequenceCounter() - 1;
            board->engineFile = engineFile;
            // Files the recorder has finished and the program has passed are
            // checked and removed, so the folder stays small.
            const int recorded = board->recordedFiles;
            while (checked < recorded && checked < engineFile) {
                const std::string path = recordings / FollowUpName(checked);
                if (HoldsTemplateAndRecording(ReadFile(path), expectedHead, checked,
                                              board->sizes[checked], showMismatches)) {
                    ++result.correctFiles;
                }
                unlink(path.c_str());
                ++checked;
            }
            if (board->recorderDone && checked == board->recordedFiles) {
                break;
            }
            if ((tick & 0xFFFF) == 0 && waitpid(recorder, nullptr, WNOHANG) == recorder &&
                !board->recorderDone) {
                result.recorderFailure = -3;  // the recorder died
                break;
            }
        }
        waitpid(recorder, nullptr, 0);
        controller.OnShutdown();

        result.recorderOpens = board->recorderOpens;
        result.contendedOpens = board->contendedOpens;
        result.engineOpenTries = files.openTries;
        result.refusedWhileRecorderHeld = files.refusedWhileRecorderHeld;
        result.writes = files.writes;
        result.overlappingWrites = files.overlappingWrites;
        result.files = board->recordedFiles;
        result.repairedLines = view.repaired;
        result.otherLines = view.notRepaired + view.otherLines + view.errors;
        if (result.recorderFailure == 0) {
            result.recorderFailure = board->recorderFailure;
        }
        munmap(board, sizeof(RaceBoard));
        return result;
    }

private:
    static bool HoldsTemplateAndRecording(const Bytes& bytes, const Bytes& head, int index,
                                          std::uint32_t size, bool show) {
        if (bytes.size() != size || size < head.size()) {
            if (show) {
                std::printf("%s: %zu bytes, the recorder wrote %u\n", FollowUpName(index).c_str(),
                            bytes.size(), size);
            }
            return false;
        }
        for (std::uint32_t position = 0; position < size; ++position) {
            const unsigned char expected =
                position < kTemplateSize ? head[position] : RecordedByte(index, position);
            if (bytes[position] != expected) {
                if (show) {
                    std::printf("%s: byte %u is %u, not %u\n", FollowUpName(index).c_str(),
                                position, bytes[position], expected);
                }
                return false;
            }
        }
        return true;
    }

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
