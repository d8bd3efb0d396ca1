// Paths as the command-line program takes them from its user, and the
// platform's rules for names in them. One implementation per platform.
#pragma once

#include <cstddef>
#include <string>

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The absolute form of `path` (joined to the current folder when relative,
// "." and ".." segments kept for the kernel to resolve); false when the
// current folder cannot be told.
bool AbsolutePath(const char* path, std::string* absolute);

// The folder part of an absolute path, with its trailing separator, and the
// name after it.
void SplitPath(const std::string& path, std::string* directory, std::string* name);

// Whether `path` names a regular file (following links, as a user's base
// file may be one).
bool IsRegularFile(const char* path);

// Whether both paths name one existing file (following links), so a command
// never replaces the file it reads from.
bool AreSameFile(const char* first, const char* second);

// Whether every character of `text` may stand in a file name on this
// system (Linux: no '/'; Windows: none of \ / : * ? " < > | and no control
// character), so that a postfix can only ever form names in one folder.
bool MayStandInFileName(const std::string& text);

// How much room a watched folder's path must leave, within the longest path
// the file layer opens, for the names in it. Where the system limits each
// name (Linux) every name the folder can hold must fit; where it limits the
// whole path (Windows) a longer name cannot be opened at all, so room for
// one character is enough.
std::size_t RoomForNamesInFolder();
