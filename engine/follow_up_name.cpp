#include "follow_up_name.h"

#include <cstring>

#include "byte_text.h"

std::uint16_t StemLengthOfName(const char* baseName) {
    const char* lastDot = std::strrchr(baseName, '.');
    const std::size_t stem =
        lastDot ? static_cast<std::size_t>(lastDot - baseName) : std::strlen(baseName);
    return static_cast<std::uint16_t>(stem > UINT16_MAX ? UINT16_MAX : stem);
}

std::size_t MaxFollowUpNameLength(const char* baseName, const char* postfix) {
    // Stem and tail together are always exactly the base name.
    return std::strlen(baseName) + std::strlen(postfix) + kMaxCounterDigits;
}

bool BuildFollowUpName(const char* baseName, std::uint16_t stemLength, const char* postfix,
                       std::uint16_t counter, char* out, std::size_t size) {
    const std::size_t nameLength = std::strlen(baseName);
    const std::size_t stem = stemLength < nameLength ? stemLength : nameLength;
    TextJoiner name(out, size);
    name.Append(baseName, stem);
    name.Append(postfix);
    name.AppendDecimal(counter);
    name.Append(baseName + stem, nameLength - stem);
    if (!name.Finish()) {
        if (size > 0) {
            out[0] = '\0';  // never a cut name: it could be another file's
        }
        return false;
    }
    return true;
}

namespace {

// Tries one split of `name`: the tail from `tailStart` on, the counter's
// digits just before it, the postfix before those.
bool TrySplit(const char* name, std::size_t tailStart, const char* postfix, char* baseName,
              std::size_t size, std::uint16_t* counter) {
    std::size_t digitsStart = tailStart;
    while (digitsStart > 0 && name[digitsStart - 1] >= '0' && name[digitsStart - 1] <= '9' &&
           tailStart - digitsStart < kMaxCounterDigits) {
        --digitsStart;
    }
    const std::size_t postfixLength = std::strlen(postfix);
    if (digitsStart == tailStart || digitsStart < postfixLength ||
        std::strncmp(name + digitsStart - postfixLength, postfix, postfixLength) != 0) {
        return false;
    }
    unsigned long number = 0;
    for (std::size_t i = digitsStart; i < tailStart; ++i) {
        number = number * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    const std::size_t stemLength = digitsStart - postfixLength;
    const std::size_t tailLength = std::strlen(name + tailStart);
    if (number > UINT16_MAX || stemLength + tailLength + 1 > size) {
        return false;
    }
    std::memcpy(baseName, name, stemLength);
    std::memcpy(baseName + stemLength, name + tailStart, tailLength + 1);
    // The base name must give exactly this name back (no leading zeros, the
    // same split point).
    char rebuilt[kNameBufferSize];
    if (!BuildFollowUpName(baseName, StemLengthOfName(baseName), postfix,
                           static_cast<std::uint16_t>(number), rebuilt, sizeof rebuilt) ||
        std::strcmp(rebuilt, name) != 0) {
        baseName[0] = '\0';
        return false;
    }
    *counter = static_cast<std::uint16_t>(number);
    return true;
}

}  // namespace

bool ParseFollowUpName(const char* name, const char* postfix, char* baseName, std::size_t size,
                       std::uint16_t* counter) {
    if (size == 0) {
        return false;
    }
    baseName[0] = '\0';
    // The tail starts at the name's last dot, or it is empty.
    const char* lastDot = std::strrchr(name, '.');
    const std::size_t length = std::strlen(name);
    if (lastDot != nullptr && TrySplit(name, static_cast<std::size_t>(lastDot - name), postfix,
                                       baseName, size, counter)) {
        return true;
    }
    return TrySplit(name, length, postfix, baseName, size, counter);
}
