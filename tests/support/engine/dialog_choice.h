// The user's choice of a base file, with and without pressing Start.
#pragma once

#include <string>

#include "repair_controller.h"

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
