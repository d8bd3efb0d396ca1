// velmora-cli watch --recursive as a running service: folders made, moved in,
// renamed and moved out while it runs, a deep tree, links to folders outside,
// and the system's limit on watches met at start and while it runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli_process.h"
#include "lock_free_recorder.h"

namespace {

const Bytes kTemplate = Pattern(kLostHeadSize, 91);
constexpr long kLeftOutNamed = 20;  // a message names at most these folders

std::string Repaired(const std::string& folder, const std::string& name) {
    return folder.substr(0, folder.size() - 1) + ": Header \"" + name + "\" restauriert!";
}

// A finished series: its base file and `parts` damaged follow-up files.
void WriteSeries(const std::string& folder, const std::string& stem, int parts) {
    WriteFile(folder + stem + ".mpg", Pattern(8000, 1));
    for (int number = 1; number <= parts; ++number) {
        WriteFile(folder + FollowUpOf(stem, number), Damaged(5000, static_cast<unsigned>(number)));
    }
}

bool HoldsTemplate(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return bytes.size() >= kTemplate.size() &&
           std::equal(kTemplate.begin(), kTemplate.end(), bytes.begin());
}

std::string MakeFolder(const std::string& path) {
    EXPECT_EQ(mkdir(path.c_str(), 0755), 0) << path;
    return path + "/";
}

// The number of components of a path: the folders the service watches
// above a given folder are these, the root included.
int Components(const std::string& path) {
    return static_cast<int>(std::count(path.begin(), path.end() - 1, '/'));
}

class WatchTreeTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(dir / "header.mpeg", kTemplate); }

    // A damaged part written in a watched folder after everything before
    // it: once it is repaired, the service has seen what came before.
    void ExpectSeenUpTo(const WatchProcess& service, const std::string& folder, int number) {
        WriteFile(folder + FollowUpOf("Mark", number), Damaged(5000, 50));
        EXPECT_TRUE(service.WaitForOut(Repaired(folder, FollowUpOf("Mark", number))))
            << service.Out() << service.Err();
    }

    TempDir dir;
};

// A recorder that makes a folder per day, while the service runs: every part
// it writes (each in several sessions, without any lock) is repaired exactly
// once. A folder renamed within the tree goes on being served under its new
// name; one moved out is forgotten without a word and never written again.
TEST_F(WatchTreeTest, FoldersMadeRenamedAndMovedOutWhileRunning) {
    WriteSeries(dir.path(), "Mark", 0);
    WatchProcess service({"-r", dir.path()}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady());

    const std::string day1 = MakeFolder(dir / "day1");
    LockFreeRecorder film({.directory = day1, .stem = "Film", .series = 1, .files = 12});
    ASSERT_TRUE(film.Start());
    film.Wait();
    const std::string day2 = MakeFolder(MakeFolder(dir / "day2") + "evening");
    LockFreeRecorder talk({.directory = day2, .stem = "Talk", .series = 2, .files = 12});
    ASSERT_TRUE(talk.Start());
    talk.Wait();
    ASSERT_EQ(film.failure() + talk.failure(), 0);
    auto allRepaired = [&] {
        for (int number = 1; number <= 12; ++number) {
            if (!film.HoldsTemplateAndRecording(day1 + FollowUpOf("Film", number), kTemplate,
                                                number) ||
                !talk.HoldsTemplateAndRecording(day2 + FollowUpOf("Talk", number), kTemplate,
                                                number)) {
                return false;
            }
        }
        return true;
    };
    ASSERT_TRUE(WaitUntil(allRepaired, 20000)) << service.Out() << service.Err();
    // A line comes once its repair is on the disk: on a disk busy with
    // other writes, 24 flushes may take many seconds.
    ASSERT_TRUE(service.WaitForOut("restauriert!", 24, 60000)) << service.Out();
    for (int number = 1; number <= 12; ++number) {
        EXPECT_EQ(CountOf(service.Out(), Repaired(day1, FollowUpOf("Film", number))), 1) << number;
        EXPECT_EQ(CountOf(service.Out(), Repaired(day2, FollowUpOf("Talk", number))), 1) << number;
    }

    const std::string archive = MakeFolder(dir / "archive");
    const std::string renamed = archive + "day1-done/";
    ASSERT_EQ(rename(day1.c_str(), renamed.c_str()), 0);
    WriteFile(renamed + FollowUpOf("Film", 13), Damaged(5000, 13));
    EXPECT_TRUE(service.WaitForOut(Repaired(renamed, FollowUpOf("Film", 13))))
        << service.Out() << service.Err();

    TempDir outside;
    ASSERT_EQ(rename((dir / "day2").c_str(), (outside / "day2").c_str()), 0);
    const std::string movedOut = outside / "day2/evening/" + FollowUpOf("Talk", 13);
    WriteFile(movedOut, Damaged(5000, 13));
    ExpectSeenUpTo(service, dir.path(), 1);
    EXPECT_EQ(ReadFile(movedOut), Damaged(5000, 13)) << "written outside the tree";
    EXPECT_EQ(service.Err(), "");
}

// Folders there at start, however deep, and one moved in with a finished
// series are served; a link to a folder outside is never followed, not
// even when it takes the place of a watched folder.
TEST_F(WatchTreeTest, DeepTreesFoldersMovedInAndLinksToFoldersOutside) {
    TempDir outside;
    WriteSeries(outside.path(), "Far", 1);
    ASSERT_EQ(symlink(outside.path().c_str(), (dir / "elsewhere").c_str()), 0);
    std::string deep = dir.path();
    for (int level = 0; level < 40; ++level) {
        deep = MakeFolder(deep + "d");
    }
    WriteSeries(deep, "Deep", 2);
    WriteSeries(deep, "Mark", 0);
    const std::string day = MakeFolder(dir / "day");
    MakeFolder(dir / "slot");

    WatchProcess service({"--recursive", dir.path()}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady());
    EXPECT_EQ(CountOf(service.Out(), "Beobachte 43 Ordner."), 1) << service.Out();
    EXPECT_TRUE(service.WaitForOut(Repaired(deep, FollowUpOf("Deep", 2))));

    TempDir staging;
    const std::string late = MakeFolder(staging / "late");
    WriteSeries(late, "Late", 3);
    ASSERT_EQ(rename(staging.path().c_str(), (dir / "moved-in").c_str()), 0);
    EXPECT_TRUE(service.WaitForOut(Repaired(dir / "moved-in/late/", FollowUpOf("Late", 3))))
        << service.Out() << service.Err();
    // Renamed onto an empty watched folder's name, it takes that one's place.
    TempDir published;
    WriteSeries(published.path(), "Slot", 1);
    ASSERT_EQ(rename(published.path().c_str(), (dir / "slot").c_str()), 0);
    EXPECT_TRUE(service.WaitForOut(Repaired(dir / "slot/", FollowUpOf("Slot", 1))))
        << service.Out() << service.Err();
    WriteSeries(MakeFolder(dir / "slot/later"), "Slot", 1);
    EXPECT_TRUE(service.WaitForOut(Repaired(dir / "slot/later/", FollowUpOf("Slot", 1))))
        << service.Out() << service.Err();
    mkdir(published.path().c_str(), 0700);  // for TempDir to remove

    ASSERT_EQ(rename(day.c_str(), (dir / "day-old").c_str()), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), (dir / "day").c_str()), 0);
    WriteFile(outside / FollowUpOf("Far", 2), Damaged(5000, 2));
    ExpectSeenUpTo(service, deep, 1);
    EXPECT_EQ(ReadFile(outside / FollowUpOf("Far", 1)), Damaged(5000, 1));
    EXPECT_EQ(ReadFile(outside / FollowUpOf("Far", 2)), Damaged(5000, 2));
    EXPECT_EQ(CountOf(service.Out(), "restauriert!"), 2 + 3 + 2 + 1) << service.Out();
    EXPECT_EQ(service.Err(), "");
}

// At the system's limit the message names the setting and every folder left
// out, once for all the folders of a scan or of one batch of events; the
// service goes on with the folders it watches.
TEST_F(WatchTreeTest, WatchLimitLeavesFoldersOutWithOneMessagePerBatch) {
    WriteSeries(dir.path(), "Mark", 0);
    for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
        WriteSeries(MakeFolder(dir / name), "Film", 1);
    }
    CliOptions options;
    options.watchLimit = Components(dir.path()) + 1 + 4;  // the given folder, above it, 4 more
    WatchProcess service({"-r", dir.path()}, dir.path(), options);
    ASSERT_TRUE(service.WaitUntilReady()) << service.Err();
    EXPECT_EQ(CountOf(service.Out(), "Beobachte 5 Ordner."), 1) << service.Out();
    EXPECT_EQ(CountOf(service.Out(), "restauriert!"), 4) << service.Out();
    ASSERT_TRUE(service.WaitForErr("\n"));
    const std::string err = service.Err();
    EXPECT_EQ(CountOf(err, "\n"), 1) << err;
    EXPECT_EQ(CountOf(err, "fs.inotify.max_user_watches"), 1) << err;
    // Exactly the folders whose part was not repaired are named.
    for (const char* name : {"a", "b", "c", "d", "e", "f"}) {
        const std::string folder = dir / name + "/";
        const bool repaired = HoldsTemplate(folder + FollowUpOf("Film", 1));
        EXPECT_EQ(CountOf(err, folder.substr(0, folder.size() - 1)), repaired ? 0 : 1)
            << name << ": " << err;
    }

    TempDir staging;
    for (const char* name : {"x", "y"}) {
        MakeFolder(staging / name);
    }
    ASSERT_EQ(rename((staging / "x").c_str(), (dir / "x").c_str()), 0);
    ASSERT_EQ(rename((staging / "y").c_str(), (dir / "y").c_str()), 0);
    ExpectSeenUpTo(service, dir.path(), 1);
    const std::string later = service.Err().substr(err.size());
    EXPECT_EQ(CountOf(later, dir / "x"), 1) << later;
    EXPECT_EQ(CountOf(later, dir / "y"), 1) << later;
}

// Each watched folder is held open: at the open-file limit the folders
// left out are named once (the setting to raise, the first twenty and how
// many more), and enough descriptors are left for the repairs.
TEST_F(WatchTreeTest, OpenFileLimitLeavesFoldersOutAndDescriptorsForTheRepairs) {
    constexpr int kFolders = 80;
    WriteSeries(dir.path(), "Mark", 0);
    for (int number = 0; number < kFolders; ++number) {
        WriteSeries(MakeFolder(dir / ("f" + std::to_string(number))), "Film", 1);
    }
    CliOptions options;
    options.openFileLimit = 100;  // 64 of them left free for the repairs
    WatchProcess service({"-r", dir.path()}, dir.path(), options);
    ASSERT_TRUE(service.WaitUntilReady()) << service.Err();
    const long repaired = CountOf(service.Out(), "restauriert!");
    EXPECT_GT(repaired, 0) << service.Out();
    EXPECT_LT(repaired, kFolders - kLeftOutNamed) << service.Out();
    ASSERT_TRUE(service.WaitForErr("\n"));
    const std::string err = service.Err();
    EXPECT_EQ(CountOf(err, "\n"), 1) << err;
    EXPECT_EQ(CountOf(err, "Grenze der offenen Dateien erreicht (ulimit -n"), 1) << err;
    EXPECT_EQ(
        CountOf(err, " und " + std::to_string(kFolders - repaired - kLeftOutNamed) + " weitere"), 1)
        << err;
    ExpectSeenUpTo(service, dir.path(), 1);
}

}  // namespace
