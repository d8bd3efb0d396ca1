// Bounded copies of zero-terminated byte strings.
#pragma once

#include <cstddef>
#include <string>

// Copies at most maxLength bytes of source, and never more than fits in
// destination (size bytes), always zero-terminating it. Returns the number of
// bytes copied.
std::size_t CopyText(char* destination, std::size_t size, const char* source,
                     std::size_t maxLength);

// The length of text, counting at most maxLength bytes.
std::size_t BoundedLength(const char* text, std::size_t maxLength);

// Joins pieces into a fixed buffer. Once a piece does not fit, the text is
// cut there and Finish reports false.
class TextJoiner {
public:
    TextJoiner(char* buffer, std::size_t size);
    void Append(const char* text, std::size_t length);
    void Append(const char* text);
    void AppendDecimal(unsigned value);
    // Zero-terminates; false if anything was cut.
    bool Finish();

private:
    char* buffer_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool fits_;
};

// A control character (a byte below 0x20, or 0x7F) as a line of text shows
// it, so that a file name can neither start a new line nor steer a
// terminal: \n, \t, \r or \xHH, zero-terminated in `escaped`. False, and
// nothing written, for any other byte.
bool EscapeControlByte(unsigned char byte, char escaped[5]);

// `text` with each control character escaped, into `out` (size bytes), cut
// where the next piece would not fit and always zero-terminated.
void EscapeControlCharacters(const char* text, char* out, std::size_t size);

// UTF-8 text as a terminal line shows it: the control characters escaped as
// above, the C1 controls (U+0080 to U+009F) as \u0080 ..., and a stray byte
// 0x80 to 0x9F that no UTF-8 sequence holds (a C1 control to a terminal
// that reads bytes) as \xHH. All else is kept as it is.
std::string Utf8WithControlsEscaped(const std::string& text);

// A zero-terminated text put together at compile time, so that a text which
// states a limit is written from the constant that enforces it.
template <std::size_t Size>
struct FixedText {
    char bytes[Size] = {};

    constexpr FixedText() = default;
    constexpr FixedText(const char (&text)[Size]) {
        for (std::size_t i = 0; i < Size; ++i) {
            bytes[i] = text[i];
        }
    }
    constexpr const char* c_str() const { return bytes; }
    static constexpr std::size_t kLength = Size - 1;
};

constexpr std::size_t DecimalDigitCount(unsigned long long value) {
    std::size_t digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

// Value in decimal digits.
template <unsigned long long Value>
constexpr FixedText<DecimalDigitCount(Value) + 1> DecimalText() {
    FixedText<DecimalDigitCount(Value) + 1> text;
    unsigned long long rest = Value;
    for (std::size_t i = DecimalDigitCount(Value); i-- > 0; rest /= 10) {
        text.bytes[i] = static_cast<char>('0' + rest % 10);
    }
    return text;
}

// The parts one after another: JoinTexts(FixedText("bis "),
// DecimalText<kLimit>(), FixedText(" Byte")).
template <std::size_t... Sizes>
constexpr FixedText<(Sizes + ...) - sizeof...(Sizes) + 1> JoinTexts(
    const FixedText<Sizes>&... parts) {
    FixedText<(Sizes + ...) - sizeof...(Sizes) + 1> joined;
    std::size_t used = 0;
    const auto append = [&joined, &used](const char* text, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) {
            joined.bytes[used++] = text[i];
        }
    };
    (append(parts.bytes, parts.kLength), ...);
    return joined;
}
