#include "header_template.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_repair_files.h"

namespace {

struct LoadCase {
    std::uint32_t size;
    TemplateLoadResult expected;
};

class TemplateSizeTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(TemplateSizeTest, SizeDecidesTheResultAndTheFileStaysOpen) {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, GetParam().size, 0xAB);
    HeaderTemplate headerTemplate;

    EXPECT_EQ(LoadHeaderTemplate(headerTemplate, files), GetParam().expected);
    // Whatever the result, the template file is held until release.
    EXPECT_TRUE(files.IsOpen(kTemplateFileName));
    headerTemplate.ReleaseFile();
    EXPECT_FALSE(files.IsOpen(kTemplateFileName));
    EXPECT_EQ(headerTemplate.File(), kNoFile);
}

INSTANTIATE_TEST_SUITE_P(Bounds, TemplateSizeTest,
                         ::testing::Values(LoadCase{0, TemplateLoadResult::TooSmall},
                                           LoadCase{63, TemplateLoadResult::TooSmall},
                                           LoadCase{64, TemplateLoadResult::Loaded},
                                           LoadCase{2048, TemplateLoadResult::Loaded},
                                           LoadCase{2049, TemplateLoadResult::TooLarge}),
                         [](const auto& info) {
                             return "Bytes" + std::to_string(info.param.size);
                         });

TEST(HeaderTemplate, LoadedBytesAreTheFilesBytes) {
    FakeRepairFiles files;
    std::vector<unsigned char> content(100);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<unsigned char>(i * 7);
    }
    files.Add(kTemplateFileName, content);
    HeaderTemplate headerTemplate;

    ASSERT_EQ(LoadHeaderTemplate(headerTemplate, files), TemplateLoadResult::Loaded);
    ASSERT_EQ(headerTemplate.length, 100u);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), headerTemplate.bytes));
}

TEST(HeaderTemplate, MissingOrBusyFileIsNotFound) {
    FakeRepairFiles files;
    HeaderTemplate headerTemplate;
    EXPECT_EQ(LoadHeaderTemplate(headerTemplate, files), TemplateLoadResult::NotFound);
    EXPECT_EQ(headerTemplate.File(), kNoFile);

    files.Add(kTemplateFileName, 100, 1).busy = true;
    EXPECT_EQ(LoadHeaderTemplate(headerTemplate, files), TemplateLoadResult::NotFound);
    headerTemplate.ReleaseFile();  // nothing to close
    EXPECT_EQ(files.closeCalls, 0);
}

TEST(HeaderTemplate, UnknownSizeCountsAsTooLarge) {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 100, 1).reportedLength = kUnknownLength;
    HeaderTemplate headerTemplate;
    EXPECT_EQ(LoadHeaderTemplate(headerTemplate, files), TemplateLoadResult::TooLarge);
}

TEST(HeaderTemplate, FailedOrShortReadIsReadFailed) {
    FakeRepairFiles files;
    FakeRepairFiles shortFiles;
    HeaderTemplate headerTemplate;
    files.Add(kTemplateFileName, 100, 1).failRead = true;
    EXPECT_EQ(LoadHeaderTemplate(headerTemplate, files), TemplateLoadResult::ReadFailed);

    // Loading again lets go of the file held so far.
    shortFiles.Add(kTemplateFileName, 100, 1).shortReadBy = 1;
    EXPECT_EQ(LoadHeaderTemplate(headerTemplate, shortFiles), TemplateLoadResult::ReadFailed);
    EXPECT_EQ(headerTemplate.length, 0u);
    EXPECT_FALSE(files.IsOpen(kTemplateFileName));
}

// The file goes with the template: closed once, by whoever holds it last.
TEST(HeaderTemplate, OwnsItsFileWhereverItIsMoved) {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 100, 1);
    files.Add("other.mpeg", 200, 2);
    {
        HeaderTemplate loaded;
        ASSERT_EQ(LoadHeaderTemplate(loaded, files), TemplateLoadResult::Loaded);
        HeaderTemplate moved(std::move(loaded));
        EXPECT_EQ(loaded.File(), kNoFile);
        EXPECT_EQ(moved.length, 100u);
        HeaderTemplate other;
        ASSERT_EQ(LoadHeaderTemplateFrom(other, files, "other.mpeg"), TemplateLoadResult::Loaded);
        other = std::move(moved);  // closes other.mpeg, takes header.mpeg
        EXPECT_FALSE(files.IsOpen("other.mpeg"));
        EXPECT_TRUE(files.IsOpen(kTemplateFileName));
        EXPECT_EQ(other.length, 100u);
        EXPECT_EQ(other.bytes[0], 1);
    }
    EXPECT_FALSE(files.IsOpen(kTemplateFileName));
    EXPECT_EQ(files.closeCalls, 2);
}

TEST(HeaderTemplate, MessagesAreTheProgramsTexts) {
    EXPECT_STREQ(TemplateLoadMessage(TemplateLoadResult::NotFound), "Header Datei nicht gefunden!");
    EXPECT_STREQ(TemplateLoadMessage(TemplateLoadResult::TooSmall),
                 "Header zu klein! (Minimal 64 Byte)");
    // Windows-1252: the sharp s is the single byte 0xDF.
    EXPECT_STREQ(TemplateLoadMessage(TemplateLoadResult::TooLarge),
                 "Header zu gro\xDF! (Maximal 2048 Byte)");
    EXPECT_STREQ(TemplateLoadMessage(TemplateLoadResult::ReadFailed),
                 "Konnte Header Datei nicht lesen!");
}

}  // namespace
