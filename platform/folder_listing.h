// The names in a folder, as the watch service looks at them at start and
// after missed events. One implementation per platform.
#pragma once

#include <functional>
#include <string>

// The names in the folder at `path` that may be files (not subfolders), in
// the order the file system gives them. False, with the reason, when the
// folder cannot be read.
bool ListFolderFiles(const char* path, const std::function<void(const char* name)>& onName,
                     std::string* error);
