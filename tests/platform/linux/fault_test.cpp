// Faults met for real over the Linux file layer: writes that the kernel cuts
// short or refuses, follow-up files that vanish or turn into something else
// between ticks, and a template file that is removed or changed while the
// program runs. Each has one defined reaction, and nothing is lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dialog_choice.h"
#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "process_usage.h"
#include "proof_support.h"
#include "recording_view.h"
#include "repair_controller.h"

namespace {

constexpr std::size_t kTemplateSize = 2048;
const Bytes kTemplate = Pattern(kTemplateSize, 77);

const std::string kWriteFailed = "Konnte Header Datei nicht schreiben!";

std::string NotRepaired(const std::string& name) {
    return "Header \"" + name + "\" nicht restauriert!";
}
std::string Repaired(const std::string& name) {
    return "Header \"" + name + "\" restauriert!";
}

// `original` with its first `count` bytes replaced by the template's.
Bytes WithTemplateHead(Bytes original, std::size_t count) {
    if (original.size() < count) {
        original.resize(count);
    }
    std::copy(kTemplate.begin(), kTemplate.begin() + static_cast<long>(count), original.begin());
    return original;
}

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(programDir / "header.mpeg", kTemplate);
        ASSERT_TRUE(StartUpIn(controller, programDir.path()));
    }
    void TearDown() override { controller.OnShutdown(); }

    void ChooseFilmIn(const std::string& directory) {
        ChooseBaseFile(controller, directory + "Film.mpg");
    }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i) {
            controller.OnTick();
        }
    }
    // The reaction to a failed or short write of `name`, seen in a child.
    void ExpectFailedWrite(Checks& check, const std::string& name, const std::string& next) {
        check.Equal(view.errors.size(), 1u, "number of messages");
        check.True(!view.errors.empty() && view.errors.back() == kWriteFailed, "the message");
        check.True(!view.logLines.empty() && view.logLines.back() == NotRepaired(name),
                   "the \"nicht restauriert!\" line");
        check.True(!controller.IsRunning(), "the stop");
        check.Equal(view.toggleCaption, std::string("Start"), "the caption");
        check.Equal(view.currentFile, next, "the next name");
    }

    TempDir programDir;
    TempDir recordings;
    LinuxRepairFiles realFiles;
    WriteCountingFiles files{realFiles};
    RecordingView view;
    RepairController controller{view, files};
};

// RLIMIT_FSIZE below the template's end: first the kernel writes only up to
// the limit (a short write), then, with the limit at 0, it refuses the write.
TEST_F(FaultTest, WriteCutShortOrRefusedByTheFileSizeLimit) {
    const Bytes film1 = Pattern(1500, 1);
    const Bytes film2 = Pattern(1500, 2);
    const Bytes film3 = Pattern(5000, 3);
    WriteFile(recordings / "Film#1.mpg", film1);
    WriteFile(recordings / "Film#2.mpg", film2);
    WriteFile(recordings / "Film#3.mpg", film3);
    ChooseFilmIn(recordings.path());

    const std::string problems = RunCheckedInChild([&] {
        Checks check;
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = 1000;
        check.True(setrlimit(RLIMIT_FSIZE, &limit) == 0, "setting the limit");
        const int descriptors = OpenDescriptorCount();

        // While the message is open, nobody waits on the file: another
        // program's open goes ahead at once (the lease would hold it off for
        // the kernel's lease-break time, 45 s; the alarm ends it long before).
        view.whileMessageOpen = [&] {
            const int opened = RunInChild([&] {
                alarm(10);
                const int fd = open((recordings / "Film#1.mpg").c_str(), O_RDONLY);
                return fd >= 0 ? 0 : 1;
            });
            check.Equal(opened, 0, "another program's open while the message is open");
            Ticks(2);  // nested: the file stays this tick's
        };
        controller.OnToggle();
        Ticks(3);  // the first fails; the others find the tool stopped
        ExpectFailedWrite(check, "Film#1.mpg", "Film#2.mpg");
        check.Equal(OpenDescriptorCount(), descriptors, "descriptors after the short write");

        limit.rlim_cur = 0;
        check.True(setrlimit(RLIMIT_FSIZE, &limit) == 0, "lowering the limit");
        view.errors.clear();
        controller.OnToggle();
        Ticks(3);
        ExpectFailedWrite(check, "Film#2.mpg", "Film#3.mpg");
        check.Equal(OpenDescriptorCount(), descriptors, "descriptors after the failed write");

        limit.rlim_cur = unlimited;
        check.True(setrlimit(RLIMIT_FSIZE, &limit) == 0, "lifting the limit");
        view.errors.clear();
        controller.OnToggle();
        controller.OnTick();
        check.True(view.errors.empty(), "no message for a good write");
        check.True(view.logLines.back() == Repaired("Film#3.mpg"), "the next file is repaired");
        check.Equal(files.writes, 3, "number of writes");
        return check.text();
    });
    EXPECT_EQ(problems, "");
    // Whatever the short write put in stays; every byte after it is old.
    EXPECT_EQ(ReadFile(recordings / "Film#1.mpg"), WithTemplateHead(film1, 1000));
    EXPECT_EQ(ReadFile(recordings / "Film#2.mpg"), film2);
    EXPECT_EQ(ReadFile(recordings / "Film#3.mpg"), WithTemplateHead(film3, kTemplateSize));
}

// A full file system: the write into a hole of a sparse file needs a block
// that is not there. A file whose first block exists is still repaired.
TEST_F(FaultTest, WriteRefusedOnAFullFileSystem) {
    const std::string mountPoint = recordings / "tmpfs/";
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    Bytes tail = Pattern(4096, 5);
    Bytes sparse(65536, 0);
    std::copy(tail.begin(), tail.end(), sparse.end() - 4096);
    const Bytes film2 = Pattern(3000, 6);

    const std::string kCannotMount = "cannot mount a tmpfs here: ";
    const std::string problems = RunCheckedInChild([&]() -> std::string {
        // A mount of its own: it goes away with the child, whatever happens.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0) {
            return kCannotMount + std::strerror(errno);
        }
        Checks check;
        const std::string film1Path = mountPoint + "Film#1.mpg";
        const int fd = open(film1Path.c_str(), O_WRONLY | O_CREAT, 0644);
        check.True(fd >= 0 && pwrite(fd, tail.data(), 4096, 65536 - 4096) == 4096,
                   "the sparse file");
        close(fd);
        WriteFile(mountPoint + "Film#2.mpg", film2);
        // Fill the rest up.
        const int filler = open((mountPoint + "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        const Bytes block(4096, 0xEE);
        while (write(filler, block.data(), block.size()) > 0) {
        }
        check.Equal(errno, ENOSPC, "the file system is full");
        close(filler);

        ChooseFilmIn(mountPoint);
        controller.OnToggle();
        Ticks(3);
        ExpectFailedWrite(check, "Film#1.mpg", "Film#2.mpg");
        check.Equal(ReadFile(film1Path), sparse, "the file whose write failed");

        controller.OnToggle();
        controller.OnTick();
        check.True(view.logLines.back() == Repaired("Film#2.mpg"), "the next file is repaired");
        check.Equal(ReadFile(mountPoint + "Film#2.mpg"), WithTemplateHead(film2, kTemplateSize),
                    "the repaired file");
        return check.text();
    });
    if (problems.rfind(kCannotMount, 0) == 0) {
        GTEST_SKIP() << problems << " (needs root with CAP_SYS_ADMIN)";
    }
    EXPECT_EQ(problems, "");
}

// Between ticks the awaited file is deleted, renamed away, and replaced by a
// directory, a FIFO (with and without a reader) and links to devices: none of
// them is written, no tick blocks, and the name is still awaited.
TEST_F(FaultTest, FollowUpFileThatVanishesOrChangesKindIsNeverWritten) {
    ChooseFilmIn(recordings.path());
    controller.OnToggle();
    const std::string film1 = recordings / "Film#1.mpg";
    const std::string problems = RunCheckedInChild([&] {
        alarm(60);  // a tick that blocks ends the child, and the test fails
        Checks check;
        WriteFile(film1, Pattern(5000, 1));
        {
            HolderProcess recorder(film1, O_WRONLY);
            Ticks(2);
            check.True(unlink(film1.c_str()) == 0, "deleting");
        }
        Ticks(3);
        check.True(!Exists(film1), "never created");

        WriteFile(film1, Pattern(5000, 2));
        {
            HolderProcess recorder(film1, O_WRONLY);
            Ticks(2);
            check.True(rename(film1.c_str(), (recordings / "Moved.mpg").c_str()) == 0, "renaming");
        }
        Ticks(3);
        check.Equal(ReadFile(recordings / "Moved.mpg"), Pattern(5000, 2), "the renamed file");

        check.True(mkdir(film1.c_str(), 0755) == 0, "the directory");
        Ticks(3);
        rmdir(film1.c_str());

        check.True(mkfifo(film1.c_str(), 0666) == 0, "the FIFO");
        Ticks(3);  // no reader: an open for writing would wait for one
        const int reader = open(film1.c_str(), O_RDONLY | O_NONBLOCK);
        Ticks(3);  // with a reader the open succeeds, but it is no file
        char byte;
        check.True(read(reader, &byte, 1) <= 0, "nothing written into the FIFO");
        close(reader);
        unlink(film1.c_str());

        for (const char* device : {"/dev/null", "/dev/zero"}) {
            check.True(symlink(device, film1.c_str()) == 0, "the link");
            Ticks(3);
            unlink(film1.c_str());
        }
        check.Equal(files.writes, 0, "writes");
        check.True(view.logLines.empty() && view.errors.empty(), "nothing shown");
        check.Equal(view.currentFile, std::string("Film#1.mpg"), "the awaited name");
        check.True(controller.IsRunning(), "still running");

        WriteFile(film1, Pattern(5000, 3));
        controller.OnTick();
        check.Equal(files.writes, 1, "the write into the real file");
        check.Equal(ReadFile(film1), WithTemplateHead(Pattern(5000, 3), kTemplateSize),
                    "the repaired file");
        return check.text();
    });
    EXPECT_EQ(problems, "");
}

// The template was read at start-up and is never read again: rewriting the
// file in place, deleting it and putting another one in its place change
// nothing about what is written.
TEST_F(FaultTest, TemplateFileChangedOrDeletedWhileRunningChangesNothing) {
    for (int n = 1; n <= 3; ++n) {
        WriteFile(recordings / ("Film#" + std::to_string(n) + ".mpg"), Pattern(5000, n));
    }
    ChooseFilmIn(recordings.path());
    controller.OnToggle();
    const std::string header = programDir / "header.mpeg";

    // Another program rewrites it in place (the lock is only advisory).
    const int rewritten = RunInChild([&] {
        const int fd = open(header.c_str(), O_WRONLY | O_TRUNC);
        const Bytes other = Filled(100, 0x11);
        return fd >= 0 && write(fd, other.data(), other.size()) == 100 ? 0 : 1;
    });
    ASSERT_EQ(rewritten, 0);
    controller.OnTick();

    ASSERT_EQ(unlink(header.c_str()), 0);
    controller.OnTick();

    WriteFile(header, Filled(2048, 0x22));
    controller.OnTick();

    for (int n = 1; n <= 3; ++n) {
        const std::string name = "Film#" + std::to_string(n) + ".mpg";
        EXPECT_EQ(ReadFile(recordings / name), WithTemplateHead(Pattern(5000, n), kTemplateSize))
            << name;
        EXPECT_EQ(view.logLines[static_cast<std::size_t>(n - 1)], Repaired(name));
    }
    EXPECT_EQ(controller.Template().length, kTemplateSize);
}

}  // namespace
