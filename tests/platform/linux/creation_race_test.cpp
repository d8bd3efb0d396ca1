// The kernel makes a new file visible before the open that creates it has
// finished, and in that moment it grants a write lease on it: nobody has it
// open yet. A recorder that creates a file and then writes its head would
// overwrite a header written in that moment, which the program had reported
// as repaired.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dialog_choice.h"
#include "linux_repair_files.h"
#include "linux_test_support.h"
#include "proof_support.h"
#include "recording_view.h"
#include "repair_controller.h"

namespace {

TEST(CreationRace, FileWhoseCreatorIsStillOpeningItIsNeverTaken) {
    TempDir dir;
    const std::string path = dir / "Film#1.mpg";
    const int kCreations = kUnderAddressSanitizer ? 20000 : 60000;
    const pid_t creator = fork();
    if (creator == 0) {
        // Create, write the first byte, close, remove: the file is empty only
        // while the creating open is still under way.
        for (int i = 0; i < kCreations; ++i) {
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                (void)!write(fd, "R", 1);
                close(fd);
                unlink(path.c_str());
            }
        }
        _exit(0);
    }
    LinuxRepairFiles files;
    const FolderHandle folder = files.HoldFolder(dir.path().c_str());
    long taken = 0;
    long takenWhileEmpty = 0;
    while (waitpid(creator, nullptr, WNOHANG) == 0) {
        OpenFailure failure = OpenFailure::None;
        const FileHandle file = files.OpenForWriting(folder, "Film#1.mpg", "Film.mpg", &failure);
        if (file != kNoFile) {
            ++taken;
            if (files.FileLength(file) == 0) {
                ++takenWhileEmpty;
            }
            files.CloseFile(file);
        }
    }
    std::printf("creations %d, taken between them %ld, taken while still being created %ld\n",
                kCreations, taken, takenWhileEmpty);
    EXPECT_GT(taken, 0);  // the program did get between the creations
    EXPECT_EQ(takenWhileEmpty, 0);
}

// So an empty follow-up file counts as not recorded yet: it is waited for,
// never written, and repaired once it has content.
TEST(CreationRace, EmptyFollowUpFileIsWaitedForUntilItHasContent) {
    TempDir programDir;
    TempDir recordings;
    WriteFile(programDir / "header.mpeg", Pattern(100, 3));
    LinuxRepairFiles files;
    RecordingView view;
    RepairController controller(view, files);
    ASSERT_TRUE(StartUpIn(controller, programDir.path()));
    ChooseAndStart(controller, recordings / "Film.mpg");

    WriteFile(recordings / "Film#1.mpg", Bytes{});
    for (int i = 0; i < 5; ++i) {
        controller.OnTick();
    }
    EXPECT_TRUE(view.logLines.empty());
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
    EXPECT_EQ(ReadFile(recordings / "Film#1.mpg"), Bytes{});

    WriteFile(recordings / "Film#1.mpg", Pattern(10, 1));
    controller.OnTick();
    EXPECT_EQ(view.logLines, std::vector<std::string>{"Header \"Film#1.mpg\" restauriert!"});
    EXPECT_EQ(ReadFile(recordings / "Film#1.mpg"), Pattern(100, 3));
    controller.OnShutdown();
}

}  // namespace
