#include "linux_repair_files.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cerrno>

#include "header_template.h"
#include "linux_test_support.h"
#include "process_usage.h"

namespace {

class LinuxRepairFilesTest : public ::testing::Test {
protected:
    // A follow-up file of "Film.mpg" in the held test folder.
    FileHandle OpenForWriting(const std::string& name) {
        failure = OpenFailure::None;
        return files.OpenForWriting(folder, name.c_str(), "Film.mpg", &failure);
    }

    TempDir dir;
    LinuxRepairFiles files;
    FolderHandle folder = files.HoldFolder(dir.path().c_str());
    OpenFailure failure = OpenFailure::None;
};

// --- header.mpeg -----------------------------------------------------------

class TemplateOnDiskTest : public LinuxRepairFilesTest {
protected:
    TemplateLoadResult Load() { return LoadHeaderTemplate(headerTemplate, files); }

    ScopedWorkingDirectory cwd{dir.path()};
    HeaderTemplate headerTemplate;
};

TEST_F(TemplateOnDiskTest, SizesDecideAndTheBytesAreRead) {
    struct Case {
        std::size_t size;
        TemplateLoadResult expected;
    };
    for (const Case& c :
         {Case{0, TemplateLoadResult::TooSmall}, Case{63, TemplateLoadResult::TooSmall},
          Case{64, TemplateLoadResult::Loaded}, Case{2048, TemplateLoadResult::Loaded},
          Case{2049, TemplateLoadResult::TooLarge}}) {
        WriteFile(dir / "header.mpeg", Pattern(c.size, 3));
        EXPECT_EQ(Load(), c.expected) << c.size << " bytes";
        if (c.expected == TemplateLoadResult::Loaded) {
            EXPECT_EQ(Bytes(headerTemplate.bytes, headerTemplate.bytes + headerTemplate.length),
                      Pattern(c.size, 3));
        }
    }
}

TEST_F(TemplateOnDiskTest, SizeBeyond32BitsIsTooLargeNotItsLowBits) {
    const int fd = open((dir / "header.mpeg").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (1LL << 32) + 100), 0);  // sparse: no disk space used
    close(fd);
    EXPECT_EQ(Load(), TemplateLoadResult::TooLarge);
}

TEST_F(TemplateOnDiskTest, MissingDirectoryFifoAndBusyAreNotFound) {
    EXPECT_EQ(Load(), TemplateLoadResult::NotFound);

    ASSERT_EQ(mkdir((dir / "header.mpeg").c_str(), 0755), 0);
    EXPECT_EQ(Load(), TemplateLoadResult::NotFound);
    rmdir((dir / "header.mpeg").c_str());

    ASSERT_EQ(mkfifo((dir / "header.mpeg").c_str(), 0644), 0);
    EXPECT_EQ(Load(), TemplateLoadResult::NotFound);  // and does not block
    unlink((dir / "header.mpeg").c_str());

    WriteFile(dir / "header.mpeg", Pattern(100, 1));
    {
        HolderProcess reader(dir / "header.mpeg", O_RDONLY);
        ASSERT_TRUE(reader.held());
        EXPECT_EQ(Load(), TemplateLoadResult::NotFound);
    }
    EXPECT_EQ(Load(), TemplateLoadResult::Loaded);
}

// header.mpeg may be a link the user made; one that another user planted in
// a folder others can write is followed only when it leads to that user's
// own file, so nobody can make the program copy a file of ours into every
// repaired recording.
TEST_F(TemplateOnDiskTest, LinkIsFollowedOnlyWhenItsOwnerMayReadTheTarget) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to make links as an ordinary user";
    }
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    WriteFile(dir / "ours.bin", Pattern(100, 1));
    ASSERT_EQ(chmod((dir / "ours.bin").c_str(), 0600), 0);
    WriteFile(dir / "theirs.bin", Pattern(200, 2));
    ASSERT_EQ(chown((dir / "theirs.bin").c_str(), 65534, 65534), 0);
    const auto linkAsNobody = [&](const char* target) {
        return RunInChild([&] {
            return BecomeNobody() && symlink(target, (dir / "header.mpeg").c_str()) == 0 ? 0 : 1;
        });
    };

    ASSERT_EQ(symlink("ours.bin", (dir / "header.mpeg").c_str()), 0);
    EXPECT_EQ(Load(), TemplateLoadResult::Loaded) << "our own link";
    unlink((dir / "header.mpeg").c_str());

    ASSERT_EQ(linkAsNobody("ours.bin"), 0);
    EXPECT_EQ(Load(), TemplateLoadResult::NotFound) << "their link to our file";
    unlink((dir / "header.mpeg").c_str());

    ASSERT_EQ(linkAsNobody("theirs.bin"), 0);
    EXPECT_EQ(Load(), TemplateLoadResult::Loaded) << "their link to their file";
    EXPECT_EQ(headerTemplate.length, 200u);
}

// A failed call brings the system's reason with it: the template is open
// for reading only.
TEST_F(TemplateOnDiskTest, FailedCallsCarryTheSystemsReason) {
    WriteFile(dir / "header.mpeg", Pattern(100, 1));
    ASSERT_EQ(Load(), TemplateLoadResult::Loaded);
    std::uint32_t written = 0;
    const FileResult refused = files.WriteBytes(headerTemplate.File(), "x", 1, &written);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.systemError, static_cast<std::uint32_t>(EBADF));
}

TEST_F(TemplateOnDiskTest, SecondCopyIsRefusedWhileReadersAreNotStalled) {
    WriteFile(dir / "header.mpeg", Pattern(100, 1));
    ASSERT_EQ(Load(), TemplateLoadResult::Loaded);

    const int secondCopy = RunInChild([] {
        LinuxRepairFiles otherFiles;
        HeaderTemplate otherTemplate;
        return static_cast<int>(LoadHeaderTemplate(otherTemplate, otherFiles));
    });
    EXPECT_EQ(secondCopy, static_cast<int>(TemplateLoadResult::NotFound));

    // A plain reader (a backup program, say) opens it at once: the lease is gone.
    const int readerOpened = RunInChild([&] {
        return open((dir / "header.mpeg").c_str(), O_RDONLY | O_NONBLOCK) >= 0 ? 0 : errno;
    });
    EXPECT_EQ(readerOpened, 0);

    headerTemplate.ReleaseFile();
    const int afterRelease = RunInChild([] {
        LinuxRepairFiles otherFiles;
        HeaderTemplate otherTemplate;
        return static_cast<int>(LoadHeaderTemplate(otherTemplate, otherFiles));
    });
    EXPECT_EQ(afterRelease, static_cast<int>(TemplateLoadResult::Loaded));
}

// --- follow-up files -------------------------------------------------------

TEST_F(LinuxRepairFilesTest, MissingFileIsNeverCreated) {
    EXPECT_EQ(OpenForWriting("Film#1.mpg"), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
    EXPECT_FALSE(Exists(dir / "Film#1.mpg"));
}

TEST_F(LinuxRepairFilesTest, WritesAtTheStartWithoutTruncating) {
    WriteFile(dir / "Film#1.mpg", Pattern(5000, 9));
    const FileHandle file = OpenForWriting("Film#1.mpg");
    ASSERT_NE(file, kNoFile);
    EXPECT_EQ(failure, OpenFailure::None);
    EXPECT_EQ(files.FileLength(file), 5000u);
    const Bytes head = Filled(100, 0x47);
    std::uint32_t written = 0;
    EXPECT_TRUE(files.WriteBytes(file, head.data(), 100, &written).ok);
    EXPECT_EQ(written, 100u);
    files.CloseFile(file);

    Bytes expected = Pattern(5000, 9);
    std::copy(head.begin(), head.end(), expected.begin());
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), expected);
}

// Another program's open of any kind makes the file busy; its close frees it.
TEST_F(LinuxRepairFilesTest, FileOpenElsewhereIsBusyUntilClosed) {
    WriteFile(dir / "Film#1.mpg", Pattern(8192, 1));
    for (int mode : {O_RDONLY, O_WRONLY, O_RDWR, HolderProcess::kMapped}) {
        HolderProcess holder(dir / "Film#1.mpg", mode);
        ASSERT_TRUE(holder.held());
        EXPECT_EQ(OpenForWriting("Film#1.mpg"), kNoFile) << "mode " << mode;
        EXPECT_EQ(failure, OpenFailure::Unavailable);
        holder.Release();
        const FileHandle file = OpenForWriting("Film#1.mpg");
        EXPECT_NE(file, kNoFile) << "mode " << mode;
        files.CloseFile(file);
    }
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), Pattern(8192, 1));
}

TEST_F(LinuxRepairFilesTest, WhileHeldNobodyElseGetsIn) {
    WriteFile(dir / "Film#1.mpg", Pattern(100, 1));
    const FileHandle file = OpenForWriting("Film#1.mpg");
    ASSERT_NE(file, kNoFile);

    // This program's own second open fails, under any name for the file.
    ASSERT_EQ(link((dir / "Film#1.mpg").c_str(), (dir / "Alias.mpg").c_str()), 0);
    EXPECT_EQ(OpenForWriting("Film#1.mpg"), kNoFile);
    EXPECT_EQ(OpenForWriting("Alias.mpg"), kNoFile);

    // Another program's open is held off by the lease: without blocking it
    // is refused, and a blocking one would wait for our close.
    const int otherOpen = RunInChild(
        [&] { return open((dir / "Film#1.mpg").c_str(), O_RDONLY | O_NONBLOCK) >= 0 ? 0 : errno; });
    EXPECT_EQ(otherOpen, EWOULDBLOCK);

    files.CloseFile(file);
    const int afterClose = RunInChild(
        [&] { return open((dir / "Film#1.mpg").c_str(), O_RDONLY | O_NONBLOCK) >= 0 ? 0 : errno; });
    EXPECT_EQ(afterClose, 0);
    ASSERT_EQ(unlink((dir / "Alias.mpg").c_str()), 0);  // one name again
    const FileHandle again = OpenForWriting("Film#1.mpg");
    EXPECT_NE(again, kNoFile);
    files.CloseFile(again);
}

TEST_F(LinuxRepairFilesTest, OnlyRegularFilesAndNoOpenBlocks) {
    ASSERT_EQ(mkdir((dir / "dir.mpg").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "fifo.mpg").c_str(), 0666), 0);
    ASSERT_EQ(symlink("/dev/null", (dir / "null.mpg").c_str()), 0);
    ASSERT_EQ(symlink("/dev/zero", (dir / "zero.mpg").c_str()), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir / "sock.mpg";
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    for (const char* name : {"dir.mpg", "fifo.mpg", "null.mpg", "zero.mpg", "sock.mpg"}) {
        EXPECT_EQ(OpenForWriting(name), kNoFile) << name;
        EXPECT_EQ(failure, OpenFailure::Unavailable) << name;
        EXPECT_EQ(files.OpenForReading((dir / name).c_str()), kNoFile) << name;
    }
    close(sock);
}

// A follow-up name is written only when it is itself the file: a link in its
// place, whoever made it, could lead anywhere, a file of root's included.
TEST_F(LinuxRepairFilesTest, FollowUpFileIsNeverWrittenThroughALink) {
    TempDir elsewhere;
    const std::string secret = elsewhere / "secret";
    WriteFile(secret, Pattern(100, 1));
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    WriteFile(dir / "real.mpg", Pattern(100, 2));
    ASSERT_EQ(symlink("real.mpg", (dir / "Film#1.mpg").c_str()), 0);
    if (geteuid() == 0) {  // planted by an ordinary user in a folder all may write
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
        EXPECT_EQ(RunInChild([&] {
                      return BecomeNobody() &&
                                     symlink(secret.c_str(), (dir / "Film#2.mpg").c_str()) == 0
                                 ? 0
                                 : 1;
                  }),
                  0);
    } else {
        ASSERT_EQ(symlink(secret.c_str(), (dir / "Film#2.mpg").c_str()), 0);
    }
    for (const char* name : {"Film#1.mpg", "Film#2.mpg"}) {
        EXPECT_EQ(OpenForWriting(name), kNoFile) << name;
        EXPECT_EQ(failure, OpenFailure::Unavailable) << name;
    }
    EXPECT_EQ(ReadFile(secret), Pattern(100, 1));
    EXPECT_EQ(ReadFile(dir / "real.mpg"), Pattern(100, 2));
}

// Waiting on a file must not look to other programs like activity: no
// write-mode open (whose close tells watchers that a writer has finished) of
// a busy file, and no open at all of a FIFO, whose waiting reader would be
// handed an end of file.
TEST_F(LinuxRepairFilesTest, WaitingOnAFileDisturbsNobody) {
    WriteFile(dir / "Film#1.mpg", Pattern(5000, 1));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_CLOSE_WRITE), 0);
    const auto closesAfterWriting = [watch] {
        alignas(inotify_event) char events[4096];
        int count = 0;
        ssize_t n;
        while ((n = read(watch, events, sizeof events)) > 0) {
            for (char* at = events; at < events + n;
                 at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len) {
                ++count;
            }
        }
        return count;
    };
    {
        HolderProcess recorder(dir / "Film#1.mpg", O_WRONLY);
        ASSERT_TRUE(recorder.held());
        for (int tick = 0; tick < 20; ++tick) {
            EXPECT_EQ(OpenForWriting("Film#1.mpg"), kNoFile);
        }
        EXPECT_EQ(closesAfterWriting(), 0) << "while the recorder held the file";
    }
    EXPECT_EQ(closesAfterWriting(), 1) << "the recorder's own close";
    const FileHandle file = OpenForWriting("Film#1.mpg");
    ASSERT_NE(file, kNoFile);
    files.CloseFile(file);
    EXPECT_EQ(closesAfterWriting(), 1) << "the close after the repair";
    close(watch);

    // A reader waiting in its open of a FIFO stays waiting.
    ASSERT_EQ(mkfifo((dir / "Film#2.mpg").c_str(), 0666), 0);
    int opened[2];
    ASSERT_EQ(pipe2(opened, O_NONBLOCK | O_CLOEXEC), 0);
    const pid_t reader = fork();
    if (reader == 0) {
        const int fd = open((dir / "Film#2.mpg").c_str(), O_RDONLY);
        char byte = 0;
        (void)!write(opened[1], "o", 1);
        _exit(fd >= 0 && read(fd, &byte, 1) == 1 ? 0 : 1);
    }
    close(opened[1]);
    usleep(50000);  // the reader is inside its open by now
    for (int tick = 0; tick < 10; ++tick) {
        EXPECT_EQ(OpenForWriting("Film#2.mpg"), kNoFile);
    }
    usleep(50000);
    char byte = 0;
    EXPECT_EQ(read(opened[0], &byte, 1), -1) << "the reader's open returned";
    const int writer = open((dir / "Film#2.mpg").c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_EQ(write(writer, "x", 1), 1) << "the reader is still there";
    close(writer);
    int status = 0;
    waitpid(reader, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader got our byte";
    close(opened[0]);
}

TEST_F(LinuxRepairFilesTest, NamesThatLeaveTheDirectoryAreNeverOpened) {
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    WriteFile(dir / "sub/Film#1.mpg", Pattern(10, 1));
    WriteFile(dir / "Film#1.mpg", Pattern(10, 1));
    // A hard link is the same file under a name in another folder too.
    ASSERT_EQ(link((dir / "sub/Film#1.mpg").c_str(), (dir / "Film#2.mpg").c_str()), 0);
    for (const char* name :
         {"sub/Film#1.mpg", "/etc/passwd", ".", "..", "", "../x", "Film#2.mpg"}) {
        EXPECT_EQ(OpenForWriting(name), kNoFile) << name;
        EXPECT_EQ(failure, OpenFailure::Unavailable);
    }
    // Never against the current directory: no directory, or a relative one.
    ScopedWorkingDirectory cwd(dir.path());
    EXPECT_EQ(files.HoldFolder(""), kNoFolder);
    EXPECT_EQ(files.HoldFolder("./"), kNoFolder);
    EXPECT_EQ(ReadFile(dir / "sub/Film#1.mpg"), Pattern(10, 1));
}

// A folder above the held one swapped for a link: its name leads elsewhere,
// so the folder counts as gone and nothing is opened, least of all the file
// of the same name the link leads to. Put back, the held folder serves again.
TEST(HeldFolder, IsTheOnlyFolderWrittenWhateverHappensToItsName) {
    TempDir root;
    ASSERT_TRUE(MakeFolders(root, {"tv", "tv/aufnahmen", "elsewhere", "elsewhere/aufnahmen"}));
    WriteFile(root / "tv/aufnahmen/Film#2.mpg", Pattern(100, 1));
    WriteFile(root / "elsewhere/aufnahmen/Film#2.mpg", Pattern(100, 2));
    LinuxRepairFiles files;
    const FolderHandle folder = files.HoldFolder((root / "tv/aufnahmen/").c_str());
    ASSERT_NE(folder, kNoFolder);

    ASSERT_EQ(rename((root / "tv").c_str(), (root / "tv.old").c_str()), 0);
    ASSERT_EQ(symlink((root / "elsewhere").c_str(), (root / "tv").c_str()), 0);
    OpenFailure failure = OpenFailure::None;
    EXPECT_EQ(files.OpenForWriting(folder, "Film#2.mpg", "Film.mpg", &failure), kNoFile);
    EXPECT_EQ(failure, OpenFailure::FolderGone);
    EXPECT_EQ(ReadFile(root / "elsewhere/aufnahmen/Film#2.mpg"), Pattern(100, 2));

    ASSERT_EQ(unlink((root / "tv").c_str()), 0);
    ASSERT_EQ(rename((root / "tv.old").c_str(), (root / "tv").c_str()), 0);
    const FileHandle file = files.OpenForWriting(folder, "Film#2.mpg", "Film.mpg", &failure);
    ASSERT_NE(file, kNoFile);
    struct stat opened {};
    struct stat inside {};
    ASSERT_EQ(fstat(static_cast<int>(file), &opened), 0);
    ASSERT_EQ(stat((root / "tv/aufnahmen/Film#2.mpg").c_str(), &inside), 0);
    EXPECT_EQ(opened.st_ino, inside.st_ino);
    files.CloseFile(file);
    files.ReleaseFolder(folder);
}

// In a folder several users write, a file is written only when it belongs
// to its base file's owner; without a base file, only the program's user's.
TEST_F(LinuxRepairFilesTest, OnlyTheBaseFilesOwnersFileIsWritten) {
    WriteFile(dir / "notes#1.txt", Pattern(100, 1));
    ASSERT_EQ(chown((dir / "notes#1.txt").c_str(), 65534, 65534), 0);
    for (const char* base : {"notes.txt", "missing.txt"}) {
        WriteFile(dir / "notes.txt", Pattern(10, 2));  // root's
        EXPECT_EQ(files.OpenForWriting(folder, "notes#1.txt", base, &failure), kNoFile) << base;
        EXPECT_EQ(failure, OpenFailure::OtherOwner) << base;
    }
    ASSERT_EQ(chown((dir / "notes.txt").c_str(), 65534, 65534), 0);
    const FileHandle file = files.OpenForWriting(folder, "notes#1.txt", "notes.txt", &failure);
    EXPECT_NE(file, kNoFile);
    files.CloseFile(file);
    EXPECT_EQ(ReadFile(dir / "notes#1.txt"), Pattern(100, 1));
}

// Whether this process (one with fewer powers than the test's) is refused
// `name` for writing, for the reason `expected`.
bool IsRefusedFor(const std::string& folder, const char* name, const char* baseName,
                  OpenFailure expected) {
    LinuxRepairFiles files;
    OpenFailure why = OpenFailure::None;
    const FolderHandle held = files.HoldFolder(folder.c_str());
    return files.OpenForWriting(held, name, baseName, &why) == kNoFile && why == expected;
}

// Only a process the kernel would let write the file shows the file layer's
// own refusal; without that power the kernel refuses (the next test).
TEST_F(LinuxRepairFilesTest, ReadOnlyFileIsRefusedEvenForRoot) {
    WriteFile(dir / "Film#1.mpg", Pattern(10, 1));
    ASSERT_EQ(chmod((dir / "Film#1.mpg").c_str(), 0444), 0);
    const int plainOpen = open((dir / "Film#1.mpg").c_str(), O_WRONLY | O_CLOEXEC);
    if (plainOpen < 0) {
        GTEST_SKIP() << "needs the power to override permission bits (root's)";
    }
    close(plainOpen);
    EXPECT_EQ(OpenForWriting("Film#1.mpg"), kNoFile);
    EXPECT_EQ(failure, OpenFailure::Unavailable);
    ASSERT_EQ(chmod((dir / "Film#1.mpg").c_str(), 0644), 0);
    const FileHandle file = OpenForWriting("Film#1.mpg");
    EXPECT_NE(file, kNoFile);
    files.CloseFile(file);
}

TEST_F(LinuxRepairFilesTest, ReadOnlyFileIsRefusedByTheKernelWithoutRootsOverride) {
    WriteFile(dir / "Film#1.mpg", Pattern(10, 1));
    ASSERT_EQ(chmod((dir / "Film#1.mpg").c_str(), 0444), 0);
    const int result = RunInChild([&] {
        if (!DropPermissionOverride()) {
            return 10;
        }
        const bool refused =
            IsRefusedFor(dir.path(), "Film#1.mpg", "Film.mpg", OpenFailure::Unavailable);
        // The kernel is what refuses here: a plain open fails the same way.
        const bool kernelRefuses = open((dir / "Film#1.mpg").c_str(), O_WRONLY) < 0;
        return refused && kernelRefuses ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(dir / "Film#1.mpg"), Pattern(10, 1));
}

// As an ordinary user: a file without write access is simply unavailable; a
// file of another user that we may write, but cannot lease, is reported as
// lacking exclusivity and never opened for writing. (Their base file is
// theirs too: a file of another owner than its base file is refused before.)
TEST_F(LinuxRepairFilesTest, OtherUsersFilesAsAnOrdinaryUser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to switch to an ordinary user";
    }
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    WriteFile(dir / "private.mpg", Pattern(10, 1));  // root's, 0644
    WriteFile(dir / "shared.mpg", Pattern(10, 1));
    ASSERT_EQ(chmod((dir / "shared.mpg").c_str(), 0666), 0);
    WriteFile(dir / "own.mpg", Pattern(10, 1));
    ASSERT_EQ(chown((dir / "own.mpg").c_str(), 65534, 65534), 0);
    WriteFile(dir / "root.mpg", Pattern(10, 1));
    WriteFile(dir / "nobody.mpg", Pattern(10, 1));
    ASSERT_EQ(chown((dir / "nobody.mpg").c_str(), 65534, 65534), 0);

    const int result = RunInChild([&] {
        if (!BecomeNobody()) {
            return 10;
        }
        if (!IsRefusedFor(dir.path(), "private.mpg", "root.mpg", OpenFailure::Unavailable)) {
            return 1;
        }
        if (!IsRefusedFor(dir.path(), "shared.mpg", "root.mpg", OpenFailure::NoExclusivity)) {
            return 2;
        }
        LinuxRepairFiles userFiles;
        OpenFailure why = OpenFailure::None;
        const FolderHandle held = userFiles.HoldFolder(dir.path().c_str());
        const FileHandle own = userFiles.OpenForWriting(held, "own.mpg", "nobody.mpg", &why);
        if (own == kNoFile) {
            return 3;
        }
        userFiles.CloseFile(own);
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(dir / "shared.mpg"), Pattern(10, 1));
}

TEST_F(LinuxRepairFilesTest, NoDescriptorIsLeft) {
    WriteFile(dir / "a.mpg", Pattern(10, 1));
    const int before = OpenDescriptorCount();
    for (int i = 0; i < 100; ++i) {
        const FileHandle file = OpenForWriting("a.mpg");
        ASSERT_NE(file, kNoFile);
        EXPECT_EQ(OpenForWriting("a.mpg"), kNoFile);
        files.CloseFile(file);
        EXPECT_EQ(OpenForWriting("missing.mpg"), kNoFile);
    }
    {
        HolderProcess holder(dir / "a.mpg", O_RDONLY);
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(OpenForWriting("a.mpg"), kNoFile);
        }
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
