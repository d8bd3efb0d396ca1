// velmora-cli watch with its standard output a pipe, as under `| less` or a
// log collector: a reader that never reads holds up neither the repairs nor
// SIGTERM, and a reader that has gone ends the service with exit code 1 and
// a line on standard error, not silently by SIGPIPE.
#include <gtest/gtest.h>

#include <vector>

#include "sync_shim.h"
#include "watch_process.h"

namespace {

const Bytes kTemplate = Pattern(kWatchTemplateSize, 77);

bool StartsWithTemplate(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return bytes.size() > kTemplate.size() &&
           std::equal(kTemplate.begin(), kTemplate.end(), bytes.begin());
}

// velmora-cli watch FOLDER with its standard output a pipe, whose reading
// end the test keeps unread or closes at once, and its standard error a file.
class PipedWatch {
public:
    PipedWatch(const std::string& folder, bool readerClosed) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        reader_ = out[0];
        if (readerClosed) {
            close(reader_);
            reader_ = -1;
        }
        const std::string err = logs_ / "err";
        pid_ = fork();
        if (pid_ == 0) {
            const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (errFd < 0 || dup2(out[1], 1) < 0 || dup2(errFd, 2) < 0 ||
                chdir(folder.c_str()) != 0) {
                _exit(127);
            }
            close_range(3, ~0u, 0);
            ExecProgram(VELMORA_CLI, "watch", {folder});
        }
        close(out[1]);
    }
    ~PipedWatch() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (reader_ >= 0) {
            close(reader_);
        }
    }
    PipedWatch(const PipedWatch&) = delete;
    PipedWatch& operator=(const PipedWatch&) = delete;

    std::string Err() const { return ReadText(logs_ / "err"); }
    void Signal(int number) const { kill(pid_, number); }

    // The exit code once it ended; -1 when it did not end in time or a
    // signal ended it.
    int WaitForExit(int timeoutMs) {
        int status = 0;
        if (pid_ <= 0 ||
            !WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs)) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    TempDir logs_;
    int reader_ = -1;
    pid_t pid_ = -1;
};

class WatchOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "header.mpeg", kTemplate);
        WriteFile(dir / "Film.mpg", Pattern(8000, 1));
    }

    TempDir dir;
    SyncShim shim{SyncMode::Skipped};  // the repairs' flushes are not what is tested here
};

// 3,000 repair lines are far more than a pipe holds.
TEST_F(WatchOutputTest, PipeNobodyReadsHoldsUpNeitherRepairsNorTheStop) {
    constexpr int kFiles = 3000;
    for (int number = 1; number <= kFiles; ++number) {
        WriteFile(dir / FollowUpOf("Film", number),
                  Damaged(kWatchTemplateSize + 256, static_cast<unsigned>(number)));
    }
    PipedWatch service(dir.path(), false);
    std::vector<bool> repaired(kFiles + 1, false);
    int repairedCount = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (int number = 1; number <= kFiles; ++number) {
                if (!repaired[number] && StartsWithTemplate(dir / FollowUpOf("Film", number))) {
                    repaired[number] = true;
                    ++repairedCount;
                }
            }
            return repairedCount == kFiles;
        },
        30000))
        << repairedCount << " of " << kFiles << " repaired";

    // A write blocked on the full pipe would hold the stop for ever; the
    // bound only keeps a loaded machine from failing the test.
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(10000), 0) << "SIGTERM did not end it";
}

// The repair is made; its line finds nobody.
TEST_F(WatchOutputTest, ReaderThatWentEndsTheServiceWithALine) {
    WriteFile(dir / "Film#1.mpg", Damaged(5000, 2));
    PipedWatch service(dir.path(), true);
    EXPECT_EQ(service.WaitForExit(5000), 1);
    EXPECT_TRUE(StartsWithTemplate(dir / "Film#1.mpg"));
    EXPECT_NE(service.Err().find("Die Standardausgabe hat keinen Leser mehr"), std::string::npos)
        << service.Err();
}

}  // namespace
