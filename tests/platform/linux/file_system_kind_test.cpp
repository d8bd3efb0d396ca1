// A lease proves that nobody has a file open only where the kernel sees every
// open of it. On an overlay mount a recorder may write a layer, and on a FUSE
// mount (sshfs, GVfs, bindfs) it may write the files behind it: the lease is
// granted all the same. There follow-up files must never be written.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "proof_support.h"

namespace {

constexpr long kFuseMagic = 0x65735546;
const std::string kSkip = "skip: ";

// Mounts of the calling child's own, gone when it ends.
bool EnterPrivateMountNamespace() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// With a recorder holding the file through `recorderPath`, the program,
// looking through `programDirectory`, is told it cannot prove exclusivity,
// and the file is not written. The same file seen directly is merely busy.
void ExpectNeverWritten(Checks& check, const std::string& recorderPath,
                        const std::string& programDirectory) {
    LinuxRepairFiles files;
    const FolderHandle folder = files.HoldFolder(programDirectory.c_str());
    OpenFailure why = OpenFailure::None;
    {
        HolderProcess recorder(recorderPath, O_WRONLY);
        check.True(recorder.held(), "the recorder's open");
        check.True(files.OpenForWriting(folder, "Film#1.mpg", "Film.mpg", &why) == kNoFile,
                   "refused while the recorder writes");
        check.True(why == OpenFailure::NoExclusivity, "reported as no exclusivity");
    }
    check.True(files.OpenForWriting(folder, "Film#1.mpg", "Film.mpg", &why) == kNoFile &&
                   why == OpenFailure::NoExclusivity,
               "refused after the recorder's close too");
    check.Equal(ReadFile(recorderPath), Pattern(5000, 1), "the file");
}

TEST(FileSystemKind, OverlayMountIsNeverWritten) {
    TempDir root;
    for (const char* name : {"lower", "upper", "work", "merged"}) {
        ASSERT_EQ(mkdir((root / name).c_str(), 0755), 0);
    }
    WriteFile(root / "upper/Film#1.mpg", Pattern(5000, 1));
    const std::string problems = RunCheckedInChild([&]() -> std::string {
        const std::string options = "lowerdir=" + root / "lower" + ",upperdir=" + root / "upper" +
                                    ",workdir=" + root / "work";
        if (!EnterPrivateMountNamespace() ||
            mount("overlay", (root / "merged").c_str(), "overlay", 0, options.c_str()) != 0) {
            return kSkip + "cannot mount an overlay here: " + std::strerror(errno);
        }
        Checks check;
        ExpectNeverWritten(check, root / "upper/Film#1.mpg", root / "merged/");

        // The upper layer itself is a local file system: busy, then free.
        LinuxRepairFiles files;
        OpenFailure why = OpenFailure::None;
        const FileHandle file = files.OpenForWriting(files.HoldFolder((root / "upper/").c_str()),
                                                     "Film#1.mpg", "Film.mpg", &why);
        check.True(file != kNoFile, "the layer's own file is written");
        files.CloseFile(file);
        return check.text();
    });
    if (problems.rfind(kSkip, 0) == 0) {
        GTEST_SKIP() << problems << " (needs root with CAP_SYS_ADMIN)";
    }
    EXPECT_EQ(problems, "");
}

TEST(FileSystemKind, FuseMountIsNeverWritten) {
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        GTEST_SKIP() << "no usable /dev/fuse here";
    }
    TempDir root;
    ASSERT_TRUE(MakeFolders(root, {"recordings", "mounted"}));
    WriteFile(root / "recordings/Film#1.mpg", Pattern(5000, 1));
    const std::string problems = RunCheckedInChild([&]() -> std::string {
        if (!EnterPrivateMountNamespace()) {
            return kSkip + "no mount namespace of our own: " + std::strerror(errno);
        }
        const pid_t bindfs = fork();
        if (bindfs == 0) {
            execlp("bindfs", "bindfs", "-f", (root / "recordings").c_str(),
                   (root / "mounted").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        struct statfs mounted {};
        for (int wait = 0; wait < 500; ++wait) {  // up to 5 s
            if (statfs((root / "mounted").c_str(), &mounted) == 0 && mounted.f_type == kFuseMagic) {
                break;
            }
            usleep(10000);
        }
        Checks check;
        check.True(mounted.f_type == kFuseMagic, "bindfs mounted the folder");
        if (mounted.f_type == kFuseMagic) {
            ExpectNeverWritten(check, root / "recordings/Film#1.mpg", root / "mounted/");
            umount2((root / "mounted").c_str(), MNT_DETACH);
        }
        kill(bindfs, SIGTERM);
        waitpid(bindfs, nullptr, 0);
        return check.text();
    });
    if (problems.rfind(kSkip, 0) == 0) {
        GTEST_SKIP() << problems << " (needs root with CAP_SYS_ADMIN)";
    }
    EXPECT_EQ(problems, "");
}

}  // namespace
