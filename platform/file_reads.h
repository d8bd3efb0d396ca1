// Plain reads of files for the command-line program, beside the repair's
// own exclusive opens (RepairFiles): the start of a file, and what state a
// file is in, never disturbing a recorder that is still writing. One
// implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

#ifdef _WIN32
// What a look at a file without opening it tells (Windows: its attributes,
// GetFileAttributesEx), so that no program's share mode is ever in the way.
enum class AttributesLook { Regular, ReadOnly, Missing, NotAFile, Failed };

// The file `name` in the held folder, never through a link (a reparse
// point is NotAFile); *size for Regular and ReadOnly.
AttributesLook LookAtFileIn(const std::string& folderPath, const char* name, std::uint64_t* size);
#endif
