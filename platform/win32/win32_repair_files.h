// The file operations on Windows. Exclusivity is the system's share mode 0:
// an open fails while the file is open anywhere else, and while we hold it
// every other open fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "repair_files.h"
#include "win32_handle.h"

// The code pages the programs' names come in (CP_ACP and CP_UTF8).
inline constexpr unsigned kAnsiCodePage = 0;
inline constexpr unsigned kUtf8CodePage = 65001;

// What differs between the programs over this layer.
struct Win32FilesOptions {
    // The code page of every name and path handed to this layer: the ANSI
    // code page (the window's ANSI interface) or UTF-8 (the command-line
    // program, so that every name Windows allows can be named). Each is
    // converted exactly and opened through the wide-character functions.
    unsigned codePage = kAnsiCodePage;
    // Paths of up to 32,767 characters (the \\?\ form); otherwise at most
    // MAX_PATH, as the window's buffers hold them.
    bool longPaths = false;
    // Whether a follow-up file is opened for reading as well, so that its
    // head can be read inside the exclusive open that repairs it (the
    // command-line service, HeadCheck::InsideTheOpen); the window only
    // writes.
    bool headReadWhileHeld = false;
    // Whether other programs may read the template while it is held (never
    // write it): the command-line service lets a check or a repair beside it
    // read it. The window holds it alone, so a second copy is refused.
    bool templateReadableByOthers = false;
};

class Win32RepairFiles : public RepairFiles {
public:
    explicit Win32RepairFiles(const Win32FilesOptions& options) : options_(options) {}
    Win32RepairFiles(const Win32RepairFiles&) = delete;
    Win32RepairFiles& operator=(const Win32RepairFiles&) = delete;

    FileHandle OpenForReading(const char* name) override;
    FolderHandle HoldFolder(const char* directory) override;
    void ReleaseFolder(FolderHandle folder) override;
    FileHandle OpenForWriting(FolderHandle folder, const char* name, const char* baseName,
                              OpenFailure* failure) override;
    std::uint32_t FileLength(FileHandle file) override;
    FileResult ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                         std::uint32_t* bytesRead) override;
    FileResult WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                          std::uint32_t* bytesWritten) override;
    FileResult Rewind(FileHandle file) override;
    FileResult FlushFile(FileHandle file) override;
    void CloseFile(FileHandle file) override;
    std::uint32_t MaxPathLength() const override;

    // Holds the folder `name` inside the held folder `parent`, never
    // through a junction or link, as HoldFolder does (without delete
    // sharing). kNoFolder when there is no such folder, or when the system
    // has no handle left (*outOfDescriptors).
    FolderHandle HoldSubfolder(FolderHandle parent, const char* name, bool* outOfDescriptors);

    // Whether the held folder's name still leads to it (a folder whose name
    // no longer does counts as gone).
    bool NameLeadsToHeldFolder(FolderHandle folder) const;

private:
    // A folder held without delete sharing: while it is held, nobody can
    // rename or delete it, so its path keeps naming it.
    struct HeldFolder {
        UniqueHandle handle;
        std::wstring path;  // as the wide functions take it
        std::uint32_t volume;
        std::uint64_t index;
    };
    const HeldFolder* FindFolder(FolderHandle folder) const;
    bool SystemPath(const char* path, std::wstring* system) const;

    Win32FilesOptions options_;
    std::vector<HeldFolder> folders_;
};

// The character after the one at `c` in text of the system's ANSI code
// page: two bytes on from a double-byte character's lead byte (code pages
// 932, 936, 949, 950), whose second byte may be 0x5C, the byte of '\\'.
const char* NextAnsiCharacter(const char* c);

// True when name can only mean a file directly inside a directory: not empty,
// no '\\', '/' or ':' (a drive or a stream), not "." or "..". Taken apart by
// characters of `codePage`, so "\x95\x5C" (a CJK character on code page
// 932) is no separator.
bool IsPlainWindowsFileName(const char* name, unsigned codePage);

// True for a path that does not depend on the current drive or directory:
// "X:\..." or "\\server\...".
bool IsAbsoluteWindowsPath(const char* path);
