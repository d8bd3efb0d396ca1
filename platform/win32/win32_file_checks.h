// Checks and loops that both Windows file layers (the repair's and the
// command-line program's) need, written once.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "win32_names.h"

// Sharing that never gets in another program's way: for opens that only
// read, or only look.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A UTF-8 path the user or the command-line program gave, as the wide
// functions take it (absolute, in the long form).
PathKind Utf8SystemPath(const char* path, std::wstring* system);

// Whether a path names a device rather than a file: "NUL" or "COM1.mpg" in
// any folder is "\\.\NUL" to the system, and opening one can already change
// it. A path without a full form (not valid, or too long for the system)
// names none: it cannot be opened at all.
bool IsDeviceName(const std::wstring& path);

// Whether the open handle is a file on a disk without any of the `refused`
// attributes; *information is what the system told of it.
bool IsRegularHandle(HANDLE handle, DWORD refused, BY_HANDLE_FILE_INFORMATION* information);

// The file's number on its volume, from the system's information.
std::uint64_t FileIndexOf(const BY_HANDLE_FILE_INFORMATION& information);

// Whether an error says that nothing is at the path.
bool IsMissingError(DWORD error);

// Writes all of `bytes`, in chunks a single WriteFile takes; false with the
// system's reason in GetLastError() when a write fails or takes nothing.
bool WriteAll(HANDLE file, const void* bytes, std::size_t size);
