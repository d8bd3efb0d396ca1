// velmora-cli watch as a running service on real files, against recorder
// processes that take no locks: parallel series in two folders, files that
// are renamed in or held by readers and mappings, a kill -9 and a restart,
// its signals, and what it does when folders or writes fail.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "cli_process.h"
#include "linux_test_support.h"
#include "lock_free_recorder.h"
#include "proof_support.h"
#include "sync_shim.h"

namespace {

const Bytes kTemplate = Pattern(kLostHeadSize, 77);

std::string Repaired(const std::string& name) {
    return "Header \"" + name + "\" restauriert!";
}

Bytes WithTemplateHead(Bytes bytes, const Bytes& headerTemplate = kTemplate) {
    return WithHead(std::move(bytes), headerTemplate);
}

long long ModifiedNs(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
}

// Every follow-up file the recorder finished holds the template and then
// exactly the recorder's bytes; counts the files that do not.
int WrongFiles(const LockFreeRecorder& recorder, const std::string& directory,
               const std::string& stem) {
    int wrong = 0;
    for (int number = 1; number <= recorder.files(); ++number) {
        wrong += !recorder.HoldsTemplateAndRecording(directory + FollowUpOf(stem, number),
                                                     kTemplate, number);
    }
    return wrong;
}

class WatchTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(dir / "header.mpeg", kTemplate); }

    TempDir dir;
};

// Three recorders at once, two series in one folder and one in another, each
// opening, writing and closing its files at random moments without any lock.
// Every file must end as template plus exactly the recorder's bytes, and be
// written once: a header written while the recorder still had the file open
// is overwritten by its later bytes, and the service, seeing the head damaged
// again after the recorder's close, writes it a second time.
TEST_F(WatchTest, RepairsParallelSeriesOfLockFreeRecorders) {
    const long opens = RunSize("VELMORA_WATCH_RACE_OPENS", kUnderAddressSanitizer ? 1000 : 4000);
    TempDir other;
    WatchProcess service({dir.path(), other.path()}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady());

    LockFreeRecorder film({.directory = dir.path(), .stem = "Film", .series = 1, .opens = opens});
    LockFreeRecorder talk({.directory = dir.path(), .stem = "Talk", .series = 2, .opens = opens});
    LockFreeRecorder news({.directory = other.path(), .stem = "News", .series = 3, .opens = opens});
    for (LockFreeRecorder* recorder : {&film, &talk, &news}) {
        ASSERT_TRUE(recorder->Start());
    }
    for (LockFreeRecorder* recorder : {&film, &talk, &news}) {
        recorder->Wait();
        ASSERT_EQ(recorder->failure(), 0);
        ASSERT_GT(recorder->files(), 0);
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            return WrongFiles(film, dir.path(), "Film") + WrongFiles(talk, dir.path(), "Talk") +
                       WrongFiles(news, other.path(), "News") ==
                   0;
        },
        30000))
        << "wrong files: Film " << WrongFiles(film, dir.path(), "Film") << " of " << film.files()
        << ", Talk " << WrongFiles(talk, dir.path(), "Talk") << " of " << talk.files() << ", News "
        << WrongFiles(news, other.path(), "News") << " of " << news.files();

    // One line per file, the folder in front, and nothing on the error stream.
    const std::string out = service.Out();
    const std::string dirShown = dir.path().substr(0, dir.path().size() - 1) + ": ";
    const std::string otherShown = other.path().substr(0, other.path().size() - 1) + ": ";
    EXPECT_EQ(CountOf(out, "restauriert!"), film.files() + talk.files() + news.files());
    EXPECT_EQ(CountOf(out, dirShown + Repaired(FollowUpOf("Film", film.files()))), 1);
    EXPECT_EQ(CountOf(out, dirShown + Repaired(FollowUpOf("Talk", 1))), 1);
    EXPECT_EQ(CountOf(out, otherShown + Repaired(FollowUpOf("News", news.files()))), 1);
    EXPECT_EQ(service.Err(), "");
    std::printf("files: Film %d, Talk %d, News %d\n", film.files(), talk.files(), news.files());
}

// What is there at start is handled by the first scan; a file renamed in is
// repaired; a held file is repaired once a reader closes it, and once a
// mapping goes (which sends no event: the retry finds it). A file that
// already starts with the template, one without a base file and one that is
// no follow-up file are not written. After the kernel dropped events, every
// folder is looked at again.
TEST_F(WatchTest, ScanRenamesHoldersAndFilesLeftAlone) {
    WriteFile(dir / "Film.mpg", Pattern(8000, 1));
    WriteFile(dir / "Film#1.mpg", Damaged(5000, 2));
    WriteFile(dir / "Film#2.mpg", WithTemplateHead(Damaged(5000, 3)));
    WriteFile(dir / "Film#3.mpg", Damaged(5000, 4));
    WriteFile(dir / "Lost#1.mpg", Damaged(5000, 5));
    WriteFile(dir / "Film-1.mpg", Damaged(5000, 6));
    const long long untouched = ModifiedNs(dir / "Film#2.mpg");
    HolderProcess reader(dir / "Film#3.mpg", O_RDONLY);
    ASSERT_TRUE(reader.held());

    WatchProcess service({dir.path()}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady());
    EXPECT_EQ(service.Out(), Repaired("Film#1.mpg") + "\nBeobachte 1 Ordner.\n");
    EXPECT_EQ(ReadFile(dir / "Film#3.mpg"), Damaged(5000, 4)) << "written while held";

    reader.Release();
    EXPECT_TRUE(service.WaitForOut(Repaired("Film#3.mpg")));

    TempDir elsewhere;
    WriteFile(elsewhere / "part", Damaged(6000, 7));
    ASSERT_EQ(rename((elsewhere / "part").c_str(), (dir / "Film#4.mpg").c_str()), 0);
    EXPECT_TRUE(service.WaitForOut(Repaired("Film#4.mpg")));

    // Mapped under another name first, so the service meets it mapped.
    WriteFile(dir / "mapped", Damaged(7000, 8));
    {
        HolderProcess mapping(dir / "mapped", HolderProcess::kMapped);
        ASSERT_TRUE(mapping.held());
        ASSERT_EQ(rename((dir / "mapped").c_str(), (dir / "Film#5.mpg").c_str()), 0);
        usleep(1500 * 1000);  // past a retry round while the mapping holds it
        EXPECT_EQ(ReadFile(dir / "Film#5.mpg"), Damaged(7000, 8)) << "written while mapped";
    }
    EXPECT_TRUE(service.WaitForOut(Repaired("Film#5.mpg")));

    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), WithTemplateHead(Damaged(5000, 2)));
    EXPECT_EQ(ReadFile(dir / "Film#3.mpg"), WithTemplateHead(Damaged(5000, 4)));
    EXPECT_EQ(ReadFile(dir / "Film#4.mpg"), WithTemplateHead(Damaged(6000, 7)));
    EXPECT_EQ(ReadFile(dir / "Film#5.mpg"), WithTemplateHead(Damaged(7000, 8)));
    EXPECT_EQ(ModifiedNs(dir / "Film#2.mpg"), untouched);
    EXPECT_EQ(ReadFile(dir / "Lost#1.mpg"), Damaged(5000, 5));
    EXPECT_EQ(ReadFile(dir / "Film-1.mpg"), Damaged(5000, 6));
    EXPECT_EQ(CountOf(service.Out(), "restauriert!"), 4);
    EXPECT_EQ(service.Err(), "");

    // More events than the kernel queues while the service is stopped: the
    // last file's are dropped, and only a new look at the folder finds it.
    service.Signal(SIGSTOP);
    for (int n = 0; n < 9000; ++n) {
        WriteFile(dir / ("noise" + std::to_string(n)), {});
    }
    WriteFile(dir / "Film#6.mpg", Damaged(5000, 9));
    service.Signal(SIGCONT);
    EXPECT_TRUE(service.WaitForErr("Zu viele Ereignisse auf einmal"));
    EXPECT_TRUE(service.WaitForOut(Repaired("Film#6.mpg")));
    EXPECT_EQ(ReadFile(dir / "Film#6.mpg"), WithTemplateHead(Damaged(5000, 9)));
}

// A kill -9 while a recorder is at work, and a restart: every file ends
// with the template and every recorded byte.
TEST_F(WatchTest, KilledInTheMiddleAndRestarted) {
    auto service = std::make_unique<WatchProcess>(std::vector<std::string>{dir.path()}, dir.path());
    ASSERT_TRUE(service->WaitUntilReady());
    LockFreeRecorder film(
        {.directory = dir.path(), .stem = "Film", .series = 4, .opens = 1000000, .files = 400});
    ASSERT_TRUE(film.Start());
    // Early in the series: each line waits for its flush, and on a busy disk
    // the recorder may be far ahead of the lines.
    ASSERT_TRUE(service->WaitForOut("restauriert!", 10));
    service.reset();  // SIGKILL, in the middle of the series
    const int filesAtKill = film.files();
    usleep(50 * 1000);
    service = std::make_unique<WatchProcess>(std::vector<std::string>{dir.path()}, dir.path());
    film.Wait();
    ASSERT_EQ(film.failure(), 0);
    EXPECT_LT(filesAtKill, film.files()) << "the kill came after the recorder's end";
    EXPECT_TRUE(WaitUntil([&] { return WrongFiles(film, dir.path(), "Film") == 0; }, 30000))
        << WrongFiles(film, dir.path(), "Film") << " of " << film.files() << " wrong";
}

// SIGHUP loads the template again (and keeps the old one when the new one is
// refused); SIGTERM ends the service with exit code 0.
TEST_F(WatchTest, ReloadsOnHangupAndStopsOnTerm) {
    WriteFile(dir / "Film.mpg", Pattern(8000, 1));
    WatchProcess service({dir.path()}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady());

    const Bytes second = Pattern(1024, 99);
    WriteFile(dir / "header.mpeg", second);
    service.Signal(SIGHUP);
    ASSERT_TRUE(
        service.WaitForOut("Header neu geladen: " + dir.path() + "header.mpeg (1024 Byte)"));
    WriteFile(dir / "Film#1.mpg", Damaged(5000, 2));
    ASSERT_TRUE(service.WaitForOut(Repaired("Film#1.mpg")));
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), WithTemplateHead(Damaged(5000, 2), second));

    WriteFile(dir / "header.mpeg", Pattern(10, 1));
    service.Signal(SIGHUP);
    ASSERT_TRUE(service.WaitForErr("Header nicht neu geladen: Header zu klein!"));
    WriteFile(dir / "Film#2.mpg", Damaged(5000, 3));
    ASSERT_TRUE(service.WaitForOut(Repaired("Film#2.mpg")));
    EXPECT_EQ(ReadFile(dir / "Film#2.mpg"), WithTemplateHead(Damaged(5000, 3), second));

    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(5000), 0);
}

// The service's template may be read beside it: a reader holding it does not
// keep the service from starting, and a repair of another folder reads it
// while the service runs. While a program has it open for writing, it is not
// taken.
TEST_F(WatchTest, TemplateIsReadBesideOthersButNeverWhileWritten) {
    const std::string other = dir / "other/";
    ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
    WriteFile(other + "Film.mpg", Pattern(8000, 1));
    WriteFile(other + "Film#1.mpg", Damaged(5000, 2));
    const int reader = open((dir / "header.mpeg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    WatchProcess service({dir.path()}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady()) << service.Err();

    const CliRun beside = RunCli({"repair", "other/Film.mpg"}, dir.path());
    EXPECT_EQ(beside.exitCode, 0) << beside.err;
    EXPECT_EQ(ReadFile(other + "Film#1.mpg"), WithTemplateHead(Damaged(5000, 2)));
    close(reader);

    WriteFile(other + "Film#2.mpg", Damaged(5000, 3));
    const int writer = open((dir / "header.mpeg").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const CliRun whileWritten = RunCli({"repair", "other/Film.mpg"}, dir.path());
    close(writer);
    EXPECT_EQ(whileWritten.exitCode, 2) << whileWritten.out;
    EXPECT_EQ(ReadFile(other + "Film#2.mpg"), Damaged(5000, 3));

    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitForExit(5000), 0);
}

// A folder missing at start is bad usage. A failed write is reported once with
// the file and the system's reason and tried again only when the file changes;
// a file without exclusivity is reported once. A folder that goes is
// reported and the others go on; when none is left the service ends with 1.
TEST_F(WatchTest, FolderAndWriteFailures) {
    const CliRun missing = RunCli({"watch", dir.path(), dir / "nowhere"}, dir.path());
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("Ordner nicht beobachtbar: " + dir / "nowhere"), std::string::npos);
    const CliRun twice = RunCli({"watch", dir.path(), "."}, dir.path());
    EXPECT_EQ(twice.exitCode, 2) << "one folder under two names";

    WriteFile(dir / "Film.mpg", Pattern(8000, 1));
    {
        // No file may grow past 1024 bytes: the template's write stops halfway.
        WatchProcess service({dir.path()}, dir.path(), {.fileSizeLimit = 1024});
        ASSERT_TRUE(service.WaitUntilReady());
        WriteFile(dir / "Film#1.mpg", Damaged(5000, 2));
        const std::string failed =
            "Konnte Header Datei nicht schreiben! \"Film#1.mpg\": "
            "nur 1024 von 2048 Byte geschrieben";
        ASSERT_TRUE(service.WaitForErr(failed));
        usleep(1500 * 1000);  // past a retry round: a parked file is not tried again
        EXPECT_EQ(CountOf(service.Err(), failed), 1) << service.Err();
        Bytes halfWritten = Damaged(5000, 2);
        std::copy(kTemplate.begin(), kTemplate.begin() + 1024, halfWritten.begin());
        EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), halfWritten) << "a byte past the write changed";
        WriteFile(dir / "Film#1.mpg", Damaged(5000, 3));  // changed: tried again
        EXPECT_TRUE(service.WaitForErr(failed, 2));
        EXPECT_EQ(service.Out(), "Beobachte 1 Ordner.\n");
    }

    if (geteuid() == 0) {
        // Another user's file: the kernel grants that user no lease on it.
        chmod(dir.path().c_str(), 0777);
        WriteFile(dir / "Film#2.mpg", Damaged(5000, 4));
        chmod((dir / "Film#2.mpg").c_str(), 0666);
        WatchProcess service({dir.path()}, dir.path(), {.asNobody = true});
        ASSERT_TRUE(service.WaitUntilReady());
        EXPECT_TRUE(service.WaitForErr("Kein Exklusivzugriff: \"Film#2.mpg\""));
        usleep(1500 * 1000);
        EXPECT_EQ(CountOf(service.Err(), "Kein Exklusivzugriff: \"Film#2.mpg\""), 1);
        EXPECT_EQ(ReadFile(dir / "Film#2.mpg"), Damaged(5000, 4));
    }

    // A folder renamed onto a given one's name takes its place: the given
    // one is gone. So is a folder given as a link once the link leads
    // elsewhere, but not while it is pointed at the same folder anew.
    TempDir first;
    const std::string second = first / "second";
    const std::string standIn = first / "stand-in";
    const std::string linked = first / "linked";
    const std::string link = first / "link";
    for (const std::string& folder : {second, standIn, linked}) {
        mkdir(folder.c_str(), 0755);
    }
    ASSERT_EQ(symlink(linked.c_str(), link.c_str()), 0);
    auto pointLinkAt = [&](const std::string& target) {
        const std::string next = link + ".next";
        return symlink(target.c_str(), next.c_str()) == 0 &&
               rename(next.c_str(), link.c_str()) == 0;
    };
    WriteFile(first / "Film.mpg", Pattern(8000, 1));
    WatchProcess service({first.path(), second, link}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady());
    ASSERT_EQ(rename(standIn.c_str(), second.c_str()), 0);
    EXPECT_TRUE(service.WaitForErr("Ordner nicht mehr da: " + second + "/"));
    ASSERT_TRUE(pointLinkAt(linked));
    ASSERT_TRUE(pointLinkAt(second));
    EXPECT_TRUE(service.WaitForErr("Ordner nicht mehr da: " + link + "/"));
    EXPECT_EQ(CountOf(service.Err(), "Ordner nicht mehr da"), 2) << service.Err();
    WriteFile(first / "Film#1.mpg", Damaged(5000, 2));
    EXPECT_TRUE(service.WaitForOut(Repaired("Film#1.mpg")));
    ASSERT_EQ(rename(first.path().c_str(), (dir / "moved").c_str()), 0);
    EXPECT_EQ(service.WaitForExit(5000), 1);
    EXPECT_NE(service.Err().find("Kein Ordner mehr zu beobachten"), std::string::npos);
    rename((dir / "moved").c_str(), first.path().c_str());  // for TempDir to remove
}

// A line is printed only once the repaired head is on the disk: one
// fdatasync per repaired file before its line. When the flush fails there is
// no line, and the reason goes to the error stream.
TEST_F(WatchTest, EachRepairIsOnTheDiskBeforeItsLine) {
    WriteFile(dir / "Film.mpg", Pattern(8000, 1));
    {
        SyncShim shim(SyncMode::Real);
        WatchProcess service({dir.path()}, dir.path());
        ASSERT_TRUE(service.WaitUntilReady());
        for (int n = 1; n <= 3; ++n) {
            WriteFile(dir / FollowUpOf("Film", n), Damaged(5000, static_cast<unsigned>(n)));
            ASSERT_TRUE(service.WaitForOut(Repaired(FollowUpOf("Film", n))));
            EXPECT_EQ(shim.FileSyncs(), n);
        }
    }
    setenv("LC_ALL", "C", 1);  // the system's reason as strerror gives it here
    SyncShim failing(SyncMode::Failed);
    WatchProcess service({dir.path()}, dir.path());
    ASSERT_TRUE(service.WaitUntilReady());
    WriteFile(dir / "Film#4.mpg", Damaged(5000, 4));
    EXPECT_TRUE(
        service.WaitForErr("Header von \"Film#4.mpg\" nicht auf den Datentr\xC3\xA4ger "
                           "geschrieben: " +
                           std::string(std::strerror(EIO))))
        << service.Err();
    EXPECT_EQ(service.Out(), "Beobachte 1 Ordner.\n");
    unsetenv("LC_ALL");
}

}  // namespace
