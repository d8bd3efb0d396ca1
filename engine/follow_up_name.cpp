#include "follow_up_name.h"

#include <cstdio>
#include <cstring>

namespace {

bool RefuseName(char* out, std::size_t size) {
    if (size > 0) {
        out[0] = '\0';
    }
    return false;
}

}  // namespace

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
    if (nameLength >= size) {
        return RefuseName(out, size);
    }
    const std::size_t stem = stemLength < nameLength ? stemLength : nameLength;
    const int written = std::snprintf(out, size, "%.*s%s%u%s", static_cast<int>(stem), baseName,
                                      postfix, static_cast<unsigned>(counter), baseName + stem);
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        return RefuseName(out, size);
    }
    return true;
}
