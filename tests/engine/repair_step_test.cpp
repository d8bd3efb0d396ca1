#include "repair_step.h"

#include <gtest/gtest.h>

#include "fake_repair_files.h"

namespace {

// A repair is flushed only when asked; a failed flush is told apart from a
// failed write, and either way the file is closed again.
TEST(RepairStep, FlushesOnlyWhenAskedAndReportsAFailedFlush) {
    FakeRepairFiles files;
    HeaderTemplate headerTemplate;
    const std::vector<unsigned char> head(100, 0x5A);
    ASSERT_EQ(TemplateFromBytes(headerTemplate, head.data(), 100), TemplateLoadResult::Loaded);
    files.Add("/rec/Film#1.mpg", 500, 0);
    files.Add("/rec/Film#2.mpg", 500, 0).failFlush = true;
    files.Add("/rec/Film#3.mpg", 500, 0).failWrite = true;

    EXPECT_EQ(RepairFollowUpFile(files, headerTemplate, "/rec/", "Film#1.mpg",
                                 Durability::LeftToTheSystem),
              RepairResult::Repaired);
    EXPECT_EQ(files.flushCalls, 0);
    EXPECT_EQ(RepairFollowUpFile(files, headerTemplate, "/rec/", "Film#1.mpg",
                                 Durability::FlushedBeforeReturn),
              RepairResult::Repaired);
    EXPECT_EQ(files.flushCalls, 1);
    EXPECT_EQ(RepairFollowUpFile(files, headerTemplate, "/rec/", "Film#2.mpg",
                                 Durability::FlushedBeforeReturn),
              RepairResult::FlushFailed);
    EXPECT_EQ(files.Find("/rec/Film#2.mpg")->bytes[99], 0x5A) << "written before the flush";
    EXPECT_EQ(RepairFollowUpFile(files, headerTemplate, "/rec/", "Film#3.mpg",
                                 Durability::FlushedBeforeReturn),
              RepairResult::WriteFailed);
    EXPECT_EQ(files.flushCalls, 2) << "a failed write is not flushed";
    EXPECT_EQ(files.OpenCount(), 0);
}

}  // namespace
