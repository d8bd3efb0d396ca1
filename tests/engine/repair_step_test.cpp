// The repair step tells why it failed: the failed call's system code, or how
// much of the template a write took.
#include "repair_step.h"

#include <gtest/gtest.h>

#include "fake_repair_files.h"

namespace {

class RepairStepTest : public ::testing::Test {
protected:
    void SetUp() override {
        files.Add("header.mpeg", 100, 0x47);
        ASSERT_EQ(LoadHeaderTemplate(headerTemplate, files), TemplateLoadResult::Loaded);
        folder = files.HoldFolder("/rec/");
    }

    RepairResult Repair(const char* name, HeadCheck headCheck = HeadCheck::ByTheCaller) {
        failure = RepairFailure{};
        return RepairFollowUpFile(files, headerTemplate, folder, name, "Film.mpg",
                                  Durability::FlushedBeforeReturn, headCheck, &failure);
    }

    FakeRepairFiles files;
    HeaderTemplate headerTemplate;
    FolderHandle folder = kNoFolder;
    RepairFailure failure;
};

TEST_F(RepairStepTest, FailureSaysWhichCallFailedAndWhy) {
    files.Add("/rec/Film#1.mpg", 200, 0).failWrite = true;
    EXPECT_EQ(Repair("Film#1.mpg"), RepairResult::WriteFailed);
    EXPECT_FALSE(failure.call.ok);
    EXPECT_EQ(failure.call.systemError, kFakeSystemError);

    files.Add("/rec/Film#2.mpg", 200, 0).shortWriteBy = 30;
    EXPECT_EQ(Repair("Film#2.mpg"), RepairResult::WriteFailed);
    EXPECT_TRUE(failure.call.ok) << "no system error: only part was taken";
    EXPECT_EQ(failure.bytesWritten, 70u);
    EXPECT_EQ(failure.bytesAsked, 100u);

    files.Add("/rec/Film#3.mpg", 200, 0).failRead = true;
    EXPECT_EQ(Repair("Film#3.mpg", HeadCheck::InsideTheOpen), RepairResult::ReadFailed);
    EXPECT_EQ(failure.call.systemError, kFakeSystemError);

    files.Add("/rec/Film#4.mpg", 200, 0);
    EXPECT_EQ(Repair("Film#4.mpg"), RepairResult::Repaired);
    EXPECT_TRUE(failure.call.ok);
    EXPECT_EQ(failure.bytesAsked, 0u) << "nothing to tell";
}

}  // namespace
