// velmora-cli watch with its standard output a pipe, as under `| less` or a
// log collector: a reader that never reads holds up neither the repairs nor
// SIGTERM, and a reader that has gone ends the service with exit code 1 and
// a line on standard error, not silently by SIGPIPE.
#include <gtest/gtest.h>

#include <vector>

#include "cli_process.h"
#include "lock_free_recorder.h"
#include "sync_shim.h"

namespace {

const Bytes kTemplate = Pattern(kLostHeadSize, 77);

bool StartsWithTemplate(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return bytes.size() > kTemplate.size() &&
           std::equal(kTemplate.begin(), kTemplate.end(), bytes.begin());
}

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
                  Damaged(kLostHeadSize + 256, static_cast<unsigned>(number)));
    }
    WatchProcess service({dir.path()}, dir.path(), {.output = ServiceOutput::Pipe});
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
    WatchProcess service({dir.path()}, dir.path(), {.output = ServiceOutput::PipeWithoutReader});
    EXPECT_EQ(service.WaitForExit(5000), 1);
    EXPECT_TRUE(StartsWithTemplate(dir / "Film#1.mpg"));
    EXPECT_NE(service.Err().find("Die Standardausgabe hat keinen Leser mehr"), std::string::npos)
        << service.Err();
}

}  // namespace
