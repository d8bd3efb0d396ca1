#include "follow_up_name.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string Build(const char* baseName, std::uint16_t stemLength, const char* postfix,
                  std::uint16_t counter) {
    char out[kNameBufferSize];
    EXPECT_TRUE(BuildFollowUpName(baseName, stemLength, postfix, counter, out, sizeof out));
    return out;
}

TEST(FollowUpName, StemPostfixCounterTail) {
    EXPECT_EQ(StemLengthOfName("Film.mpg"), 4);
    EXPECT_EQ(Build("Film.mpg", 4, "#", 1), "Film#1.mpg");
    EXPECT_EQ(Build("Film.mpg", 4, "#", 12), "Film#12.mpg");
    EXPECT_EQ(Build("Film.mpg", 4, "", 1), "Film1.mpg");
    EXPECT_EQ(Build("Film.mpg", 4, "_teil", 1), "Film_teil1.mpg");
    EXPECT_EQ(Build("FILM.MPG", 4, "#", 1), "FILM#1.MPG");
    EXPECT_EQ(Build("Film.mpg", 4, "#", 65535), "Film#65535.mpg");
    EXPECT_EQ(Build("Film.mpg", 4, "#", 0), "Film#0.mpg");
}

TEST(FollowUpName, SplitsAtTheLastDotOfTheNameOnly) {
    EXPECT_EQ(StemLengthOfName("Film.2003.mpg"), 9);
    EXPECT_EQ(Build("Film.2003.mpg", 9, "#", 1), "Film.2003#1.mpg");
    EXPECT_EQ(StemLengthOfName(".mpg"), 0);
    EXPECT_EQ(Build(".mpg", 0, "#", 1), "#1.mpg");
}

TEST(FollowUpName, NamesWithoutExtensionOrEndingWithADot) {
    EXPECT_EQ(StemLengthOfName("Film"), 4);
    EXPECT_EQ(Build("Film", StemLengthOfName("Film"), "#", 1), "Film#1");
    EXPECT_EQ(StemLengthOfName("Film."), 4);
    EXPECT_EQ(Build("Film.", StemLengthOfName("Film."), "#", 1), "Film#1.");
    // A stem beyond the name builds the whole name followed by postfix and
    // counter.
    EXPECT_EQ(Build("Film.", 65532, "#", 1), "Film.#1");
}

TEST(FollowUpName, RefusesWhatDoesNotFit) {
    const std::string name(250, 'a');
    char out[kNameBufferSize] = "old";
    EXPECT_TRUE(BuildFollowUpName(name.c_str(), 250, "#", 1, out, sizeof out));
    EXPECT_EQ(MaxFollowUpNameLength(name.c_str(), "#"), 256u);
    EXPECT_FALSE(BuildFollowUpName(name.c_str(), 250, "1234567", 65535, out, sizeof out));
    EXPECT_STREQ(out, "");
    char small[4];
    EXPECT_FALSE(BuildFollowUpName("Film.mpg", 4, "#", 1, small, sizeof small));
    EXPECT_STREQ(small, "");
}

// Over many random names, postfixes and counters: the name never exceeds the
// bound the controller checks, and it splits back into its four pieces.
TEST(FollowUpName, RandomNamesReassembleAndStayInBounds) {
    std::mt19937 random(20261207);
    const std::string alphabet = "abcXYZ019 .%#_-\xE4\xDF";
    auto randomText = [&](std::size_t maxLength) {
        std::string text(random() % (maxLength + 1), ' ');
        for (char& c : text) {
            c = alphabet[random() % alphabet.size()];
        }
        return text;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string baseName = randomText(60);
        const std::string postfix = randomText(kMaxPostfixLength);
        const auto stemLength = static_cast<std::uint16_t>(random() % 70);
        const auto counter = static_cast<std::uint16_t>(random());
        char out[kNameBufferSize];
        ASSERT_TRUE(BuildFollowUpName(baseName.c_str(), stemLength, postfix.c_str(), counter, out,
                                      sizeof out));
        const std::string name = out;
        ASSERT_LE(name.size(), MaxFollowUpNameLength(baseName.c_str(), postfix.c_str()));

        const std::size_t stem = std::min<std::size_t>(stemLength, baseName.size());
        const std::string digits = std::to_string(counter);
        ASSERT_EQ(name.substr(0, stem), baseName.substr(0, stem));
        ASSERT_EQ(name.substr(stem, postfix.size()), postfix);
        ASSERT_EQ(name.substr(stem + postfix.size(), digits.size()), digits);
        ASSERT_EQ(name.substr(stem + postfix.size() + digits.size()), baseName.substr(stem));
    }
}

// Names a folder holds are told apart: a follow-up name gives back the base
// name and counter it was built from; anything else is refused.
TEST(ParseFollowUpName, GivesBackWhatTheNameWasBuiltFrom) {
    struct Case {
        const char* name;
        const char* postfix;
        const char* baseName;  // nullptr: not a follow-up name
        std::uint16_t counter;
    };
    for (const Case& c :
         {Case{"Film#1.mpg", "#", "Film.mpg", 1},
          Case{"Film.2003#65535.mpg", "#", "Film.2003.mpg", 65535},
          Case{"Film_teil12.MPG", "_teil", "Film.MPG", 12}, Case{"Film3.mpg", "", "Film.mpg", 3},
          Case{"Film#7", "#", "Film", 7}, Case{"Film#0.mpg", "#", "Film.mpg", 0},
          Case{"Film.mpg", "#", nullptr, 0}, Case{"Film#.mpg", "#", nullptr, 0},
          Case{"Film#01.mpg", "#", nullptr, 0}, Case{"Film#65536.mpg", "#", nullptr, 0},
          Case{"Film#1.mpg.part", "#", nullptr, 0}, Case{"Film-1.mpg", "#", nullptr, 0}}) {
        char baseName[kNameBufferSize];
        std::uint16_t counter = 0;
        const bool parsed =
            ParseFollowUpName(c.name, c.postfix, baseName, sizeof baseName, &counter);
        EXPECT_EQ(parsed, c.baseName != nullptr) << c.name;
        if (parsed && c.baseName != nullptr) {
            EXPECT_STREQ(baseName, c.baseName) << c.name;
            EXPECT_EQ(counter, c.counter) << c.name;
        }
    }
}

}  // namespace
