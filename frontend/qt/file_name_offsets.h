// Where the file name and its extension begin in a chosen path, as the
// engine expects them from a file-selection dialog.
#pragma once

#include <cstdint>

struct FileNameOffsets {
    // Just after the last '/': where the file name begins.
    std::uint16_t fileOffset = 0;
    // Just after the last dot of the file name; the position of the path's
    // terminating zero when the name has no dot; 0 when it ends with a dot.
    std::uint16_t fileExtension = 0;
};

// Offsets past 65535 are cut to 65535; the engine refuses such paths anyway,
// as they exceed the longest path it takes.
FileNameOffsets ComputeFileNameOffsets(const char* fullPath);
