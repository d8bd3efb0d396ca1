#include "file_name_offsets.h"

#include <cstring>

namespace {

std::uint16_t Clamp16(std::size_t value) {
    return static_cast<std::uint16_t>(value > UINT16_MAX ? UINT16_MAX : value);
}

}  // namespace

FileNameOffsets ComputeFileNameOffsets(const char* fullPath) {
    const std::size_t length = std::strlen(fullPath);
    const char* lastSeparator = std::strrchr(fullPath, '/');
    const std::size_t nameStart =
        lastSeparator ? static_cast<std::size_t>(lastSeparator - fullPath) + 1 : 0;
    const char* lastDot = std::strrchr(fullPath + nameStart, '.');

    FileNameOffsets offsets;
    offsets.fileOffset = Clamp16(nameStart);
    if (lastDot == nullptr) {
        offsets.fileExtension = Clamp16(length);
    } else if (lastDot + 1 == fullPath + length) {
        offsets.fileExtension = 0;
    } else {
        offsets.fileExtension = Clamp16(static_cast<std::size_t>(lastDot - fullPath) + 1);
    }
    return offsets;
}
