#include "byte_text.h"

#include <charconv>
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
