#include "repair_controller.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "controller_test.h"

namespace {

class RepairControllerTest : public ControllerTest {
protected:
    std::string Repaired(const std::string& name) { return "Header \"" + name + "\" restauriert!"; }
    std::string NotRepaired(const std::string& name) {
        return "Header \"" + name + "\" nicht restauriert!";
    }
};

TEST(RepairControllerStartup, EachTemplateFailureShowsItsMessageAndCloses) {
    struct Case {
        std::size_t size;
        const char* message;
    };
    for (const Case& c : {Case{10, "Header zu klein! (Minimal 64 Byte)"},
                          Case{4096, "Header zu gro\xDF! (Maximal 2048 Byte)"}}) {
        FakeRepairFiles files;
        files.Add(kTemplateFileName, c.size, 0);
        RecordingView view;
        RepairController controller(view, files);
        EXPECT_FALSE(controller.OnStartup());
        EXPECT_EQ(view.errors, std::vector<std::string>{c.message});
        EXPECT_EQ(view.closeRequests, 1);
        // The file stays held until shutdown.
        EXPECT_TRUE(files.IsOpen(kTemplateFileName));
        controller.OnShutdown();
        EXPECT_EQ(files.OpenCount(), 0);
    }
    FakeRepairFiles noFiles;
    RecordingView view;
    RepairController controller(view, noFiles);
    EXPECT_FALSE(controller.OnStartup());
    EXPECT_EQ(view.errors, std::vector<std::string>{"Header Datei nicht gefunden!"});
}

TEST_F(RepairControllerTest, StartsStoppedWithNoBaseFileAndDefaultPostfix) {
    EXPECT_TRUE(view.errors.empty());
    EXPECT_STREQ(controller.CurrentPostfix(), "#");
    EXPECT_FALSE(view.toggleEnabled);
    files.Add("/rec/Film#1.mpg", 10, 0);
    controller.OnTick();
    EXPECT_EQ(files.openForWritingCalls, 0);
}

TEST_F(RepairControllerTest, RoadOfOneFollowUpFile) {
    Choose("/rec/Film.mpg");
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
    EXPECT_TRUE(view.toggleEnabled);
    EXPECT_EQ(view.toggleCaption, "Start");

    controller.OnTick();  // stopped: no attempt
    EXPECT_EQ(files.openForWritingCalls, 0);

    controller.OnToggle();
    EXPECT_EQ(view.toggleCaption, "Stop");
    for (int i = 0; i < 50; ++i) {
        controller.OnTick();  // missing: waited for, never created
    }
    EXPECT_EQ(files.Find("/rec/Film#1.mpg"), nullptr);
    EXPECT_TRUE(view.logLines.empty());
    EXPECT_EQ(view.currentFile, "Film#1.mpg");

    FakeRepairFiles::File& busy = files.Add("/rec/Film#1.mpg", 5000, 0x00);
    busy.busy = true;
    controller.OnTick();  // held by another program: left alone
    EXPECT_TRUE(view.logLines.empty());

    busy.busy = false;
    controller.OnTick();
    EXPECT_EQ(files.lastWriteDirectory, "/rec/");
    EXPECT_EQ(view.logLines, std::vector<std::string>{Repaired("Film#1.mpg")});
    EXPECT_EQ(view.currentFile, "Film#2.mpg");
    EXPECT_EQ(view.toggleCaption, "Stop");
    EXPECT_EQ(files.OpenCount(), 1);  // only the template is still open

    const auto& bytes = files.Find("/rec/Film#1.mpg")->bytes;
    ASSERT_EQ(bytes.size(), 5000u);
    EXPECT_EQ(bytes[0], 0x47);
    EXPECT_EQ(bytes[kTemplateSize - 1], 0x47);
    EXPECT_EQ(bytes[kTemplateSize], 0x00);
}

TEST_F(RepairControllerTest, ShortFileBecomesExactlyTheTemplate) {
    files.Add("/rec/Film#1.mpg", 10, 0x01);
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(files.Find("/rec/Film#1.mpg")->bytes,
              std::vector<unsigned char>(kTemplateSize, 0x47));
}

TEST_F(RepairControllerTest, TwoFreeFilesAreRepairedOnTwoTicks) {
    files.Add("/rec/Film#1.mpg", 200, 0);
    files.Add("/rec/Film#2.mpg", 200, 0);
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(view.logLines.size(), 1u);
    controller.OnTick();
    EXPECT_EQ(view.logLines,
              (std::vector<std::string>{Repaired("Film#1.mpg"), Repaired("Film#2.mpg")}));
    EXPECT_EQ(view.currentFile, "Film#3.mpg");
}

TEST_F(RepairControllerTest, FailedAndShortWritesStopLogAndAdvance) {
    files.Add("/rec/Film#1.mpg", 200, 0).failWrite = true;
    files.Add("/rec/Film#2.mpg", 200, 0).shortWriteBy = 1;
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(view.errors, std::vector<std::string>{"Konnte Header Datei nicht schreiben!"});
    EXPECT_EQ(view.logLines, std::vector<std::string>{NotRepaired("Film#1.mpg")});
    EXPECT_EQ(view.currentFile, "Film#2.mpg");
    EXPECT_EQ(view.toggleCaption, "Start");
    EXPECT_TRUE(view.toggleEnabled);
    EXPECT_FALSE(controller.IsRunning());
    EXPECT_FALSE(files.IsOpen("/rec/Film#1.mpg"));

    controller.OnTick();  // stopped
    EXPECT_EQ(view.logLines.size(), 1u);
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(view.errors.size(), 2u);
    EXPECT_EQ(view.logLines.back(), NotRepaired("Film#2.mpg"));
    // What the short write did put there stays.
    EXPECT_EQ(files.Find("/rec/Film#2.mpg")->bytes[kTemplateSize - 2], 0x47);
    EXPECT_EQ(files.Find("/rec/Film#2.mpg")->bytes[kTemplateSize - 1], 0x00);
    EXPECT_EQ(view.currentFile, "Film#3.mpg");
}

TEST_F(RepairControllerTest, TicksWhileTheMessageIsOpenLeaveTheFileToTheInterruptedTick) {
    files.Add("/rec/Film#1.mpg", 200, 0).failWrite = true;
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    view.whileMessageOpen = [&] {
        for (int i = 0; i < 10; ++i) {
            controller.OnTick();
        }
        EXPECT_TRUE(files.IsOpen("/rec/Film#1.mpg"));
        EXPECT_EQ(view.currentFile, "Film#1.mpg");
        EXPECT_TRUE(view.logLines.empty());
        controller.OnToggle();  // the user presses Stop, then Start, meanwhile
        controller.OnToggle();
    };
    controller.OnTick();
    EXPECT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.logLines, std::vector<std::string>{NotRepaired("Film#1.mpg")});
    EXPECT_EQ(view.toggleCaption, "Start");
    EXPECT_FALSE(controller.IsRunning());
    EXPECT_EQ(files.OpenCount(), 1);
    EXPECT_EQ(view.currentFile, "Film#2.mpg");
}

TEST_F(RepairControllerTest, NewBaseFileWhileTheMessageIsOpenStartsTheNewSeriesAtOne) {
    files.Add("/rec/Film#1.mpg", 200, 0).failWrite = true;
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    view.whileMessageOpen = [&] { Choose("/other/Show.mpg"); };
    controller.OnTick();
    // The line names the file that failed; the new series waits at number 1.
    EXPECT_EQ(view.logLines, std::vector<std::string>{NotRepaired("Film#1.mpg")});
    EXPECT_EQ(view.currentFile, "Show#1.mpg");
    EXPECT_EQ(controller.SequenceCounter(), 1);
    EXPECT_FALSE(files.IsOpen("/rec/Film#1.mpg"));

    files.Add("/other/Show#1.mpg", 200, 0);
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(view.logLines.back(), Repaired("Show#1.mpg"));
}

TEST_F(RepairControllerTest, NewBaseFileWhileRunningStopsAndRestarts) {
    files.Add("/rec/Film#1.mpg", 200, 0);
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(view.currentFile, "Film#2.mpg");
    Choose("/rec/Other.ts");
    EXPECT_EQ(view.currentFile, "Other#1.ts");
    EXPECT_EQ(view.toggleCaption, "Start");
    EXPECT_FALSE(controller.IsRunning());
}

TEST_F(RepairControllerTest, PostfixIsReadOnlyWhenABaseFileIsChosen) {
    view.postfixField = "_teil_zu_lang";
    Choose("/rec/Film.mpg");
    EXPECT_EQ(view.currentFile, "Film_teil_z1.mpg");  // first 7 bytes
    view.postfixField = "-";
    files.Add("/rec/Film_teil_z1.mpg", 200, 0);
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(view.currentFile, "Film_teil_z2.mpg");
    EXPECT_STREQ(controller.CurrentPostfix(), "_teil_z");
}

TEST_F(RepairControllerTest, CounterWrapsFrom65535ToZero) {
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    for (unsigned n = 1; n <= 65535; ++n) {
        files.Add("/rec/Film#" + std::to_string(n) + ".mpg", 1, 0);
        controller.OnTick();
    }
    EXPECT_EQ(view.logLines.back(), Repaired("Film#65535.mpg"));
    EXPECT_EQ(view.currentFile, "Film#0.mpg");
    EXPECT_EQ(controller.SequenceCounter(), 0);
    EXPECT_EQ(files.OpenCount(), 1);
}

TEST_F(RepairControllerTest, NamesThatCouldGrowTooLongAreRefusedAndNothingChanges) {
    Choose("/rec/Film.mpg");
    controller.OnToggle();
    // 251 + 1 ("#") + 5 digits = 257 bytes: fits.
    const std::string fits = "/d/" + std::string(247, 'x') + ".mpg";
    // 253 + 1 + 5 = 259 with the postfix; one more byte does not fit.
    const std::string tooLong = "/d/" + std::string(250, 'x') + ".mpg";
    Choose(tooLong);
    EXPECT_EQ(view.errors, std::vector<std::string>{kNameTooLongMessage});
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
    EXPECT_TRUE(controller.IsRunning());
    EXPECT_EQ(view.toggleCaption, "Stop");

    files.maxPathLength = 259;
    Choose(fits);  // 3 + 257 = 260 bytes of joined path: too long for the platform
    EXPECT_EQ(view.errors.size(), 2u);
    files.maxPathLength = 4095;
    Choose(fits);
    EXPECT_EQ(view.errors.size(), 2u);
    EXPECT_EQ(view.currentFile, std::string(247, 'x') + "#1.mpg");

    const std::string pathTooLong = "/" + std::string(300, 'd') + "/Film.mpg";
    Choose(pathTooLong);
    EXPECT_EQ(view.errors.size(), 3u);
}

TEST_F(RepairControllerTest, LongestNamesGiveWholeStatusLines) {
    // 254 + "" + 5 digits = 259 bytes: the longest follow-up name there is.
    const std::string stem(250, 's');
    view.postfixField = "";
    files.maxPathLength = 4095;
    Choose("/r/" + stem + ".mpg");
    files.Add("/r/" + stem + "1.mpg", 10, 0).failWrite = true;
    controller.OnToggle();
    controller.OnTick();
    const std::string line = NotRepaired(stem + "1.mpg");
    EXPECT_EQ(view.logLines, std::vector<std::string>{line});
    EXPECT_LE(line.size() + 4, kMaxStatusLineLength);  // room for four more digits
}

TEST_F(RepairControllerTest, ChoicesWithoutAFileNameAreRefused) {
    controller.OnBaseFileChosen("/rec/", "");
    controller.OnBaseFileChosen("", "");
    EXPECT_EQ(view.errors, (std::vector<std::string>(2, kInvalidBaseFileMessage)));
    EXPECT_FALSE(view.toggleEnabled);
}

TEST_F(RepairControllerTest, NameWithoutExtensionAndNameEndingWithDot) {
    Choose("/rec/Film");
    EXPECT_EQ(view.currentFile, "Film#1");
    Choose("/rec/Film.");
    EXPECT_EQ(view.currentFile, "Film#1.");
    Choose("/rec.2003/Film.mpg");
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
}

TEST_F(RepairControllerTest, MissingExclusivityIsReportedOncePerSeriesAndNeverWritten) {
    files.Add("/nfs/Film#1.mpg", 200, 0).noExclusivity = true;
    Choose("/nfs/Film.mpg");
    controller.OnToggle();
    for (int i = 0; i < 5; ++i) {
        controller.OnTick();
    }
    EXPECT_EQ(view.logLines, std::vector<std::string>{"Kein Exklusivzugriff: \"Film#1.mpg\""});
    EXPECT_EQ(files.Find("/nfs/Film#1.mpg")->bytes, std::vector<unsigned char>(200, 0));
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
    EXPECT_TRUE(view.errors.empty());
    Choose("/nfs/Film.mpg");
    controller.OnToggle();
    controller.OnTick();
    EXPECT_EQ(view.logLines.size(), 2u);
}

// The folder is held from Start to Stop; a folder that is missing at Start,
// or whose name leads elsewhere meanwhile, is waited for like a missing
// file; another owner's file is told once per series and never written.
TEST_F(RepairControllerTest, FolderHeldWhileRunningAndOtherOwnersFilesLeftAlone) {
    files.Add("/rec/Film#1.mpg", 200, 0).otherOwner = true;
    files.missingFolders.insert("/rec/");
    Choose("/rec/Film.mpg");
    EXPECT_FALSE(controller.HoldsFolder());
    controller.OnToggle();
    controller.OnTick();
    EXPECT_FALSE(controller.HoldsFolder());
    EXPECT_EQ(files.openForWritingCalls, 0);

    files.missingFolders.clear();
    for (int i = 0; i < 3; ++i) {
        controller.OnTick();
    }
    EXPECT_TRUE(controller.HoldsFolder());
    EXPECT_EQ(files.lastBaseName, "Film.mpg");
    EXPECT_EQ(view.logLines, std::vector<std::string>{"Anderer Eigent\xFCmer: \"Film#1.mpg\""});
    EXPECT_EQ(files.Find("/rec/Film#1.mpg")->bytes, std::vector<unsigned char>(200, 0));

    files.Find("/rec/Film#1.mpg")->otherOwner = false;
    files.goneFolders.insert("/rec/");
    controller.OnTick();
    EXPECT_EQ(view.currentFile, "Film#1.mpg");
    files.goneFolders.clear();
    controller.OnTick();
    EXPECT_EQ(view.logLines.back(), Repaired("Film#1.mpg"));

    controller.OnToggle();
    EXPECT_EQ(files.HeldFolderCount(), 0);
    controller.OnToggle();
    EXPECT_EQ(files.HeldFolderCount(), 1);
    controller.OnShutdown();
    EXPECT_EQ(files.HeldFolderCount(), 0);
}

}  // namespace
