// The few file operations of the command-line program beyond the repair
// itself (which goes through RepairFiles): plain reads of a file's start,
// the creation of a new file, and paths. One implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Busy: another program holds the file and lets nobody read it (a share
// mode without reading on Windows); never on Linux.
enum class ReadHeadResult { Read, Missing, NotAFile, Busy, Failed };

// Reads up to `size` bytes from the start of the regular file at `path`,
// without any exclusivity (the file may be growing); *count is the number
// read. A symbolic link in its last component is followed only when
// `followLinks`; still only a regular file is ever opened.
ReadHeadResult ReadRegularFileStart(const char* path, bool followLinks, unsigned char* buffer,
                                    std::size_t size, std::size_t* count);

// A follow-up file's head: never through a link.
inline ReadHeadResult ReadFileHead(const char* path, unsigned char* buffer, std::size_t size,
                                   std::size_t* count) {
    return ReadRegularFileStart(path, false, buffer, size, count);
}

// A file the user named (a recording to read or check): a link is followed.
inline ReadHeadResult ReadFileStart(const char* path, unsigned char* buffer, std::size_t size,
                                    std::size_t* count) {
    return ReadRegularFileStart(path, true, buffer, size, count);
}

enum class CreateFileResult { Created, Exists, NotAFile, Failed };

// What is at a path that holds no regular file.
enum class NotAFileKind { Folder, Link, Device, Fifo, Socket };

// Writes `bytes` into a new file at `path`. An existing regular file is left
// alone (Exists) unless `replace`, and then it is replaced whole, never
// written through a link. Anything else there (a folder, a link, a device,
// a FIFO, a socket) is never replaced: NotAFile, with *kind saying what it
// is. *error holds the system's reason on Failed.
CreateFileResult CreateNewFile(const char* path, const unsigned char* bytes, std::size_t size,
                               bool replace, NotAFileKind* kind, std::string* error);

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

// The system's words for the last failed call (errno, GetLastError()),
// as UTF-8 text.
std::string LastSystemErrorText();

// The system's words for one of its error codes (a FileResult's
// systemError), as UTF-8 text.
std::string SystemErrorText(std::uint32_t code);

// Whether both paths name one existing file (following links), so a command
// never replaces the file it reads from.
bool AreSameFile(const char* first, const char* second);

// The program's texts are UTF-8. A file name is text as the file system
// spells it: UTF-8 on Linux, the ANSI code page on Windows; this is its
// UTF-8 form, for messages.
std::string NameAsText(const std::string& name);

// Writes UTF-8 text to `stream` (stdout or stderr): on Linux as it is; on
// Windows as characters to a console window, and in the console's code
// page (the ANSI code page without a console) to a file or pipe.
void WriteText(std::FILE* stream, const std::string& text);
// One state of a file: which file it is, its size and when it was last
// written. A later stamp that differs means that the file changed, or that
// another file took its name.
struct FileStamp {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t written = 0;  // in the platform's units
    bool regular = false;      // a regular file (not a folder, FIFO or device)

    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (links followed); false when it cannot be
// told.
bool StampFile(const char* path, FileStamp* stamp);

// How `repair` gets what it reports onto the disk before it exits. Where
// this is true (Windows, which flushes a whole volume only for an
// administrator) each repaired file is flushed before its line; otherwise
// (Linux) the sync at the end writes them all at once.
bool FlushesEachRepair();

// The sync of one `repair` run, begun before its first write: on Linux the
// folder held open, so that its syncfs at the end also reports a write-back
// error the system met meanwhile, on any file of the file system. A folder
// that may be searched but not read cannot be held so: then the whole
// system is synced instead.
struct RepairSync {
    std::intptr_t folder = -1;  // -1: none held
    bool wholeSystem = false;
};

// *error holds the system's reason on failure.
bool BeginRepairSync(const char* folder, RepairSync* sync, std::string* error);

// Makes every repair written since BeginRepairSync durable (Linux: syncfs,
// one call for any number of files; where FlushesEachRepair, nothing is
// left to do) and ends the sync. *error holds the system's reason on
// failure.
bool FinishRepairSync(RepairSync* sync, std::string* error);

// A follow-up file, or a series' base file, read inside the folder the file
// layer holds for its series (`folder`, from HoldFolder; `folderPath` is the
// path it was held under, with its separator), never through a folder of
// another name. A follow-up file is never read through a link; a base file
// through one only when the link belongs to this user or to the owner of
// the file it leads to (as the kernel's protected-symlinks rule has it).
enum class LinkRule { NeverFollow, FollowTrusted };
ReadHeadResult ReadFileStartIn(std::intptr_t folder, const std::string& folderPath,
                               const char* name, LinkRule rule, unsigned char* buffer,
                               std::size_t size, std::size_t* count);

// The stamp of the file `name` in the held folder (a link followed); false
// when there is none.
bool StampFileIn(std::intptr_t folder, const std::string& folderPath, const char* name,
                 FileStamp* stamp);

// Whether every character of `text` may stand in a file name on this
// system (Linux: no '/'; Windows: none of \ / : * ? " < > | and no control
// character), so that a postfix can only ever form names in one folder.
bool MayStandInFileName(const std::string& text);

#ifdef _WIN32
// What a look at a file without opening it tells (Windows: its attributes,
// GetFileAttributesEx), so that no program's share mode is ever in the way.
enum class AttributesLook { Regular, ReadOnly, Missing, NotAFile, Failed };

// The file `name` in the held folder, never through a link (a reparse
// point is NotAFile); *size for Regular and ReadOnly.
AttributesLook LookAtFileIn(const std::string& folderPath, const char* name, std::uint64_t* size);
#endif
