#include "byte_text.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

std::size_t CopyText(char* destination, std::size_t size, const char* source,
                     std::size_t maxLength) {
    if (size == 0) {
        return 0;
    }
    const std::size_t room = size - 1;
    const std::size_t length = BoundedLength(source, maxLength < room ? maxLength : room);
    std::memmove(destination, source, length);
    destination[length] = '\0';
    return length;
}

std::size_t BoundedLength(const char* text, std::size_t maxLength) {
    std::size_t length = 0;
    while (length < maxLength && text[length] != '\0') {
        ++length;
    }
    return length;
}

TextJoiner::TextJoiner(char* buffer, std::size_t size)
    : buffer_(buffer), size_(size), fits_(size > 0) {}

void TextJoiner::Append(const char* text, std::size_t length) {
    if (!fits_ || length >= size_ - used_) {
        fits_ = false;
        return;
    }
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
}

void TextJoiner::Append(const char* text) {
    Append(text, std::strlen(text));
}

void TextJoiner::AppendDecimal(unsigned value) {
    char digits[std::numeric_limits<unsigned>::digits10 + 1];
    const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
    Append(digits, static_cast<std::size_t>(result.ptr - digits));
}

bool TextJoiner::Finish() {
    if (size_ > 0) {
        buffer_[used_] = '\0';
    }
    return fits_;
}

bool EscapeControlByte(unsigned char byte, char escaped[5]) {
    if (byte >= 0x20 && byte != 0x7F) {
        return false;
    }
    constexpr char kHex[] = "0123456789abcdef";
    escaped[0] = '\\';
    escaped[2] = '\0';
    switch (byte) {
    case '\n':
        escaped[1] = 'n';
        return true;
    case '\t':
        escaped[1] = 't';
        return true;
    case '\r':
        escaped[1] = 'r';
        return true;
    default:
        escaped[1] = 'x';
        escaped[2] = kHex[byte >> 4];
        escaped[3] = kHex[byte & 0xF];
        escaped[4] = '\0';
        return true;
    }
}

void EscapeControlCharacters(const char* text, char* out, std::size_t size) {
    TextJoiner joined(out, size);
    for (const char* c = text; *c != '\0'; ++c) {
        char escaped[5];
        if (EscapeControlByte(static_cast<unsigned char>(*c), escaped)) {
            joined.Append(escaped);
        } else {
            joined.Append(c, 1);
        }
    }
    joined.Finish();
}

namespace {

// Whether the byte at `at` (0x80 to 0xBF) continues a UTF-8 sequence whose
// lead byte comes before it.
bool ContinuesSequence(const std::string& text, std::size_t at) {
    std::size_t back = 1;
    while (back <= 3 && back <= at) {
        const auto byte = static_cast<unsigned char>(text[at - back]);
        if ((byte & 0xC0) != 0x80) {
            // A lead byte: 110xxxxx takes one more, 1110xxxx two, 11110xxx three.
            const std::size_t length = (byte & 0xE0) == 0xC0   ? 2
                                       : (byte & 0xF0) == 0xE0 ? 3
                                       : (byte & 0xF8) == 0xF0 ? 4
                                                               : 0;
            return back < length;
        }
        ++back;
    }
    return false;
}

}  // namespace

std::string Utf8WithControlsEscaped(const std::string& name) {
    std::string text;
    text.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        char escaped[8];
        if (EscapeControlByte(byte, escaped)) {
            text += escaped;
        } else if (byte == 0xC2 && i + 1 < name.size() &&
                   (static_cast<unsigned char>(name[i + 1]) & 0xE0) == 0x80) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x",
                          static_cast<unsigned char>(name[i + 1]));
            text += escaped;
            ++i;
        } else if (byte >= 0x80 && byte <= 0x9F && !ContinuesSequence(name, i)) {
            // A stray byte no UTF-8 sequence holds is a C1 control to a
            // terminal that reads bytes.
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        } else {
            text += name[i];
        }
    }
    return text;
}
