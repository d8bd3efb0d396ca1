// The engine's own texts: Windows-1252 decoded by the one table both front
// ends use, and texts put together at compile time from the limits they state
// (the messages that use it are checked where they are shown).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "byte_text.h"
#include "windows_1252.h"

namespace {

TEST(Windows1252, EveryByteIsItsOwnCharacter) {
    std::set<char32_t> characters;
    for (int byte = 0; byte < 256; ++byte) {
        const char32_t character = Windows1252CodePoint(static_cast<unsigned char>(byte));
        characters.insert(character);
        if (byte < 0x80 || byte >= 0xA0) {
            EXPECT_EQ(character, static_cast<char32_t>(byte)) << byte;  // Latin-1
        }
    }
    EXPECT_EQ(characters.size(), 256u);  // nothing lost, nothing merged
    EXPECT_EQ(Windows1252CodePoint(0x80), U'\u20AC');
    EXPECT_EQ(Windows1252CodePoint(0x8A), U'\u0160');
    EXPECT_EQ(Windows1252CodePoint(0x9F), U'\u0178');
    // Undefined in the code page: the C1 control of the same value.
    for (const unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        EXPECT_EQ(Windows1252CodePoint(undefined), static_cast<char32_t>(undefined));
    }
}

TEST(Windows1252, ToUtf8InOneTwoAndThreeBytes) {
    EXPECT_EQ(Windows1252ToUtf8("Ung\xFCltige Basis Datei! gro\xDF"),
              "Ung\xC3\xBCltige Basis Datei! gro\xC3\x9F");
    EXPECT_EQ(Windows1252ToUtf8("\x80\x93\x94\x99\x9F"),
              "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D\xE2\x84\xA2\xC5\xB8");
    EXPECT_EQ(Windows1252ToUtf8("\x81"), "\xC2\x81");
    EXPECT_EQ(Windows1252ToUtf8(""), "");
}

TEST(FixedText, NumbersAndPartsJoinedAtCompileTime) {
    static_assert(DecimalText<0>().kLength == 1);
    EXPECT_STREQ(DecimalText<0>().c_str(), "0");
    EXPECT_STREQ(DecimalText<7>().c_str(), "7");
    EXPECT_STREQ(DecimalText<65535>().c_str(), "65535");
    EXPECT_STREQ(DecimalText<18446744073709551615ull>().c_str(), "18446744073709551615");
    constexpr auto joined = JoinTexts(FixedText("von "), DecimalText<64>(), FixedText(" bis "),
                                      DecimalText<2048>(), FixedText(""));
    static_assert(joined.kLength == 15);
    EXPECT_STREQ(joined.c_str(), "von 64 bis 2048");
}

}  // namespace
