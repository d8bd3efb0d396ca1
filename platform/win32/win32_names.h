// Names, paths and text between the programs and Windows (UTF-16). Names
// are converted exactly: one without an exact form on the other side is
// refused, never replaced by a look-alike (Windows' best fit would turn
// "Ωmega.mpg" into "Omega.mpg", another file).
#pragma once

#include <cstddef>
#include <string>

// `text` in `codePage` (CP_ACP, CP_UTF8) as UTF-16; false when it is not
// valid text of that code page.
bool WideFromText(unsigned codePage, const std::string& text, std::wstring* wide);

// UTF-16 as UTF-8; false for what is not valid UTF-16 (an unpaired
// surrogate, which a Windows file name may hold).
bool Utf8FromWide(const wchar_t* text, std::size_t length, std::string* utf8);

// The absolute form of `path` (relative to the current folder, "." and ".."
// resolved); false when the system gives none.
bool FullWidePath(const std::wstring& path, std::wstring* full);

// Whether a full path names a device: "NUL" and "COM1.mpg" become "\\.\NUL".
bool IsDevicePath(const std::wstring& full);

// A full path in the form that lifts MAX_PATH ("\\?\C:\..." and
// "\\?\UNC\server\share\..."): the wide functions take it up to 32,767
// characters long, and take each name in it exactly as it is.
std::wstring LongPathForm(const std::wstring& full);

// How a path stands to be opened. Names like "NUL" or "COM1.mpg" mean
// devices; opening one can already change it. Unusable: not valid text of
// its code page, or no full path to be had.
enum class PathKind { File, Device, Unusable };

// `path` in `codePage` as the wide functions take it: converted exactly,
// absolute, and in the long form when `longForm`.
PathKind SystemPath(unsigned codePage, const std::string& path, bool longForm,
                    std::wstring* system);

// A folder's UTF-8 path as the wide functions take it (long form); false,
// with ERROR_INVALID_NAME as the last error, when it has none.
bool SystemFolderPath(const char* path, std::wstring* system);

// A path as LongPathForm gives it, back in its usual form.
std::wstring WithoutLongPathPrefix(const std::wstring& path);

// The program's UTF-8 text as UTF-16, for output only: what is not valid
// UTF-8 shows as U+FFFD.
std::wstring WideForOutput(const std::string& text);

// UTF-16 text for a file or a pipe: in the console's output code page (the
// ANSI code page without a console), as cmd.exe's own commands write it.
// A character that code page lacks becomes '?', never a look-alike.
std::string InConsoleCodePage(const std::wstring& text);
