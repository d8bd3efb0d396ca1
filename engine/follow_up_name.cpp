#include "follow_up_name.h"

#include <cstring>

#include "byte_text.h"

std::uint16_t ComputeStemLength(std::uint16_t fileOffset, std::uint16_t fileExtension) {
    return static_cast<std::uint16_t>(fileExtension - fileOffset - 1);
}

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
