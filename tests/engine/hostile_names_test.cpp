// Awkward base names and postfixes through the whole controller: the name it
// shows, the file it asks for, and the status line it writes. Bytes are taken
// as they are (no character set is assumed), no text is ever read as a
// format, and every length limit holds.
#include <gtest/gtest.h>

#include <string>

#include "controller_test.h"

namespace {

class HostileNamesTest : public ControllerTest {
protected:
    // Chooses path with postfix, lets the first follow-up file exist and be
    // repaired, and returns the name it was repaired under.
    std::string RepairFirst(const std::string& path, const std::string& postfix) {
        view.postfixField = postfix;
        view.logLines.clear();
        Choose(path);
        const std::string name = view.currentFile;
        files.Add(path.substr(0, path.find_last_of('/') + 1) + name, 10, 0);
        controller.OnToggle();
        controller.OnTick();
        controller.OnToggle();
        EXPECT_EQ(view.logLines, std::vector<std::string>{"Header \"" + name + "\" restauriert!"})
            << path;
        for (const std::string& line : view.logLines) {
            EXPECT_LE(line.size(), kMaxStatusLineLength);
        }
        EXPECT_LE(name.size(), kMaxNameLength);
        return name;
    }
};

TEST_F(HostileNamesTest, BaseNamesWithoutExtensionOrMadeOfDots) {
    EXPECT_EQ(RepairFirst("/rec/Film", "#"), "Film#1");
    EXPECT_EQ(RepairFirst("/rec/Film.", "#"), "Film#1.");
    EXPECT_EQ(RepairFirst("/rec/.", "#"), "#1.");
    EXPECT_EQ(RepairFirst("/rec/..", "#"), ".#1.");
    EXPECT_EQ(RepairFirst("/rec/.mpg", "#"), "#1.mpg");
    EXPECT_EQ(RepairFirst("/rec.d/Film", "#"), "Film#1");  // a dot in the folder plays no part
}

TEST_F(HostileNamesTest, BytesThatAreNoTextAreKeptAsTheyAre) {
    EXPECT_EQ(RepairFirst("/rec/\xFF\xFE\xC3(.mpg", "#"), "\xFF\xFE\xC3(#1.mpg");
    EXPECT_EQ(RepairFirst("/rec/Film\xE4\xDF.mpg", "#"), "Film\xE4\xDF#1.mpg");
}

TEST_F(HostileNamesTest, SpacesAndPercentSignsAreNeverAFormat) {
    EXPECT_EQ(RepairFirst("/rec/Mein Film %s%n%d 100%.mpg", "%s"), "Mein Film %s%n%d 100%%s1.mpg");
    EXPECT_EQ(RepairFirst("/rec/ .mpg", " "), "  1.mpg");
}

// A base name is taken only if its longest follow-up name (postfix and five
// digits added) stays within 259 bytes, and that name joined with the folder
// within the platform's longest path.
TEST_F(HostileNamesTest, NamesAtTheLengthLimit) {
    files.maxPathLength = 4095;  // as on Linux
    const std::string directory = "/recs/";
    const std::string stem(249, 'a');  // with ".mpg" a name of 253 bytes
    const std::string path = directory + stem + ".mpg";
    ASSERT_EQ(path.size(), kMaxNameLength);
    EXPECT_EQ(RepairFirst(path, "#"), stem + "#1.mpg");
    EXPECT_TRUE(view.errors.empty());

    // Its last name, 65535, is exactly 259 bytes.
    char name[kNameBufferSize];
    ASSERT_TRUE(BuildFollowUpName((stem + ".mpg").c_str(), 249, "#", 65535, name, sizeof name));
    EXPECT_EQ(std::string(name).size(), kMaxNameLength);

    // One byte more of postfix or name, or a path over 259 bytes, and the
    // choice is refused with the tool unchanged.
    const std::string before = view.currentFile;
    view.postfixField = "##";
    Choose(path);
    view.postfixField = "#";
    Choose("/rec/" + stem + "x.mpg");
    Choose(path + "x");
    EXPECT_EQ(view.errors, std::vector<std::string>(3, kNameTooLongMessage));
    EXPECT_EQ(view.currentFile, before);
    EXPECT_EQ(controller.SequenceCounter(), 2);

    // Where paths end at 259 bytes (Windows), folder and name must fit in it.
    files.maxPathLength = 259;
    view.errors.clear();
    Choose(path);
    EXPECT_EQ(view.errors, std::vector<std::string>{kNameTooLongMessage});
    const std::string fits = directory + std::string(259 - 6 - 6 - 4, 'b') + ".mpg";
    EXPECT_EQ(RepairFirst(fits, "#").size(), fits.size() - directory.size() + 2);
}

TEST_F(HostileNamesTest, PostfixLengths) {
    EXPECT_EQ(RepairFirst("/rec/Film.mpg", ""), "Film1.mpg");
    EXPECT_EQ(RepairFirst("/rec/Film.mpg", "_teil_7"), "Film_teil_71.mpg");
    EXPECT_EQ(RepairFirst("/rec/Film.mpg", "_abschnitt"), "Film_abschn1.mpg");
    EXPECT_STREQ(controller.CurrentPostfix(), "_abschn");
    // Four two-byte characters are cut after the seventh byte, inside the
    // fourth: the bytes are used as they are.
    EXPECT_EQ(RepairFirst("/rec/Film.mpg", "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4"),
              "Film\xC3\xA4\xC3\xA4\xC3\xA4\xC3"
              "1.mpg");
}

TEST_F(HostileNamesTest, PostfixWithSeparatorsOrControlCharacters) {
    // The engine forms the name as it is; the file layer never opens a name
    // with a separator (tested over the real layer).
    view.postfixField = "/../";
    Choose("/rec/Film.mpg");
    EXPECT_EQ(view.currentFile, "Film/../1.mpg");
    EXPECT_EQ(controller.BaseDirectory(), std::string("/rec/"));

    EXPECT_EQ(RepairFirst("/rec/Film.mpg", "\\"), "Film\\1.mpg");
    EXPECT_EQ(RepairFirst("/rec/Film.mpg", "\t\r\n\x01\x1B[m"), "Film\t\r\n\x01\x1B[m1.mpg");
    EXPECT_EQ(RepairFirst("/rec/Film.mpg", "\x7F"),
              "Film\x7F"
              "1.mpg");
}

}  // namespace
