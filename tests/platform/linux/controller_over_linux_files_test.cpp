// The controller with the real Linux file layer on real files: ticks are
// driven directly, as the window's timer would.
#include <gtest/gtest.h>

#include "dialog_choice.h"
#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "recording_view.h"
#include "repair_controller.h"

namespace {

constexpr std::size_t kTemplateSize = 2048;

class ControllerOverLinuxFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(programDir / "header.mpeg", Pattern(kTemplateSize, 77));
        ASSERT_TRUE(StartUpIn(controller, programDir.path()));
    }
    void TearDown() override { controller.OnShutdown(); }

    void ChooseFilm() { ChooseBaseFile(controller, recordings / "Film.mpg"); }
    void ChooseFilmAndStart() { ChooseAndStart(controller, recordings / "Film.mpg"); }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) {
            controller.OnTick();
        }
    }
    // The template in front, the original bytes after it.
    static Bytes Repaired(const Bytes& original) {
        Bytes expected = original;
        if (expected.size() < kTemplateSize) {
            expected.resize(kTemplateSize);
        }
        const Bytes head = Pattern(kTemplateSize, 77);
        std::copy(head.begin(), head.end(), expected.begin());
        return expected;
    }

    TempDir programDir;
    TempDir recordings;
    LinuxRepairFiles files;
    RecordingView view;
    RepairController controller{view, files};
};

TEST_F(ControllerOverLinuxFilesTest, FileHeldByARecorderIsRepairedOnTheFirstTickAfterItsClose) {
    ChooseFilmAndStart();
    Ticks(5);
    EXPECT_FALSE(Exists(recordings / "Film#1.mpg"));  // waited for, never created

    const Bytes recorded = Pattern(300000, 5);
    WriteFile(recordings / "Film#1.mpg", recorded);
    {
        HolderProcess recorder(recordings / "Film#1.mpg", O_WRONLY);
        ASSERT_TRUE(recorder.held());
        Ticks(20);
        EXPECT_TRUE(view.logLines.empty());
        EXPECT_EQ(view.currentFile, "Film#1.mpg");
    }
    controller.OnTick();
    EXPECT_EQ(view.logLines, std::vector<std::string>{"Header \"Film#1.mpg\" restauriert!"});
    EXPECT_EQ(view.currentFile, "Film#2.mpg");
    EXPECT_EQ(ReadFile(recordings / "Film#1.mpg"), Repaired(recorded));
}

TEST_F(ControllerOverLinuxFilesTest, SmallFileBecomesTheTemplateAndLargeFileKeepsItsSize) {
    WriteFile(recordings / "Film#1.mpg", Pattern(10, 1));
    const Bytes large = Pattern(1 << 20, 2);
    WriteFile(recordings / "Film#2.mpg", large);
    ChooseFilmAndStart();
    Ticks(2);
    EXPECT_EQ(ReadFile(recordings / "Film#1.mpg"), Pattern(kTemplateSize, 77));
    EXPECT_EQ(ReadFile(recordings / "Film#2.mpg"), Repaired(large));
    EXPECT_EQ(view.logLines.size(), 2u);
}

TEST_F(ControllerOverLinuxFilesTest, ReadOnlyFileIsRetriedSilentlyAndNeverSkipped) {
    WriteFile(recordings / "Film#1.mpg", Pattern(10, 1));
    ASSERT_EQ(chmod((recordings / "Film#1.mpg").c_str(), 0444), 0);
    WriteFile(recordings / "Film#2.mpg", Pattern(10, 1));
    ChooseFilmAndStart();
    Ticks(10);
    EXPECT_TRUE(view.logLines.empty());
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
    EXPECT_EQ(ReadFile(recordings / "Film#1.mpg"), Pattern(10, 1));

    ASSERT_EQ(chmod((recordings / "Film#1.mpg").c_str(), 0644), 0);
    controller.OnTick();
    EXPECT_EQ(view.currentFile, "Film#2.mpg");
}

// Without root's override the kernel itself refuses the write access.
TEST_F(ControllerOverLinuxFilesTest, FileWithoutWriteAccessForAnOrdinaryUser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to switch to an ordinary user";
    }
    WriteFile(recordings / "Film#1.mpg", Pattern(10, 1));  // root's, 0644
    ASSERT_EQ(chmod(recordings.path().c_str(), 0755), 0);
    ChooseFilmAndStart();
    const int result = RunInChild([&] {
        if (!BecomeNobody()) {
            return 10;
        }
        Ticks(3);
        return view.logLines.empty() && view.currentFile == "Film#1.mpg" ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(recordings / "Film#1.mpg"), Pattern(10, 1));
}

TEST_F(ControllerOverLinuxFilesTest, PostfixWithASeparatorNeverReachesAnotherFile) {
    // With a folder named like the stem, "Film/../x/1.mpg" would be x/1.mpg.
    ASSERT_EQ(mkdir((recordings / "Film").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((recordings / "x").c_str(), 0755), 0);
    WriteFile(recordings / "x/1.mpg", Pattern(10, 1));
    view.postfixField = "/../x/";
    ChooseFilmAndStart();
    EXPECT_EQ(view.currentFile, "Film/../x/1.mpg");
    Ticks(5);
    EXPECT_TRUE(view.logLines.empty());
    EXPECT_EQ(ReadFile(recordings / "x/1.mpg"), Pattern(10, 1));
}

TEST_F(ControllerOverLinuxFilesTest, FollowUpNameThatIsAFifoOrDeviceNeverBlocks) {
    ASSERT_EQ(mkfifo((recordings / "Film#1.mpg").c_str(), 0666), 0);
    ChooseFilmAndStart();
    Ticks(3);
    ASSERT_EQ(unlink((recordings / "Film#1.mpg").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", (recordings / "Film#1.mpg").c_str()), 0);
    Ticks(3);
    EXPECT_TRUE(view.logLines.empty());
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
}

TEST_F(ControllerOverLinuxFilesTest, TemplateFileStaysHeldUntilShutdown) {
    const int whileRunning = RunInChild([&] {
        LinuxRepairFiles other;
        return other.OpenForReading((programDir / "header.mpeg").c_str()) == kNoFile ? 0 : 1;
    });
    EXPECT_EQ(whileRunning, 0);
    controller.OnShutdown();
    const int afterShutdown = RunInChild([&] {
        LinuxRepairFiles other;
        return other.OpenForReading((programDir / "header.mpeg").c_str()) != kNoFile ? 0 : 1;
    });
    EXPECT_EQ(afterShutdown, 0);
}

}  // namespace
