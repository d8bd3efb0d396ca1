// The names in a folder, as the watch service looks at them at start and
// after missed events. One implementation per platform.
#pragma once

#include <functional>
#include <string>

// What a name in a folder stands for, as far as the watch service cares: a
// subfolder (a real folder; a link to one is not), or anything else, which
// may be a file.
enum class EntryKind { MayBeFile, Subfolder };

// The names in the folder at `path`, in the order the file system gives
// them, without "." and "..". False, with the reason, when the folder cannot
// be read.
bool ListFolder(const char* path,
                const std::function<void(const char* name, EntryKind kind)>& onEntry,
                std::string* error);
