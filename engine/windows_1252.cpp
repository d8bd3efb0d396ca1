#include "windows_1252.h"

namespace {

// Characters of the bytes 0x80 to 0x9F; every other byte is the Latin-1
// character of its value.
constexpr char16_t kBytes80To9F[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

void AppendUtf8(std::string& out, char32_t character) {
    if (character < 0x80) {
        out += static_cast<char>(character);
    } else if (character < 0x800) {
        out += static_cast<char>(0xC0 | (character >> 6));
        out += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        // Every character of the code page lies in the Basic Multilingual Plane.
        out += static_cast<char>(0xE0 | (character >> 12));
        out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (character & 0x3F));
    }
}

}  // namespace

char32_t Windows1252CodePoint(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kBytes80To9F[byte - 0x80];
    }
    return byte;
}

std::string Windows1252ToUtf8(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        AppendUtf8(out, Windows1252CodePoint(static_cast<unsigned char>(*p)));
    }
    return out;
}
