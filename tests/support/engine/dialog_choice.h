// A confirmed base-file choice as a file-selection dialog reports it: the
// offset of the name after the last separator, and the offset just past the
// name's last dot (the path's end without a dot, 0 when the name ends with one).
// And the user's choice of a base file, with and without pressing Start.
#pragma once

#include <cstdint>
#include <string>

#include "repair_controller.h"

struct DialogChoice {
    std::uint16_t fileOffset;
    std::uint16_t fileExtension;
};

inline DialogChoice DialogChoiceFor(const std::string& path, char separator) {
    const std::size_t offset = path.find_last_of(separator) + 1;
    const std::size_t dot = path.find_last_of('.');
    std::size_t extension = path.size();
    if (dot != std::string::npos && dot >= offset) {
        extension = dot + 1 == path.size() ? 0 : dot + 1;
    }
    return {static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(extension)};
}

// The folder (up to and with the last '/') and the name of path, as a front
// end hands them over.
inline void ChooseBaseFile(RepairController& controller, const std::string& path) {
    const std::size_t nameStart = path.find_last_of('/') + 1;
    controller.OnBaseFileChosen(path.substr(0, nameStart).c_str(), path.c_str() + nameStart);
}

// Chooses the base file and presses Start, as a user does.
inline void ChooseAndStart(RepairController& controller, const std::string& path) {
    ChooseBaseFile(controller, path);
    controller.OnToggle();
}
