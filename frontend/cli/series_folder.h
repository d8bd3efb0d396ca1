// A folder the file layer holds for its series, and the path it was held
// under: every file of its series is read and written inside it.
#pragma once

#include <string>

#include "repair_files.h"

struct SeriesFolder {
    FolderHandle handle = kNoFolder;
    std::string path;  // absolute, with its separator
};
