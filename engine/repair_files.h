// The file operations the engine needs: exclusive opens, one read or write
// per call, and a close. Each platform's file layer implements them
// (platform/linux, platform/win32); the programs pick the one they are built
// for.
#pragma once

#include <cstdint>

// An opaque file handle. kNoFile is the one value that stands for no file.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// The length FileLength gives for a file whose size cannot be told, or does
// not fit in 32 bits (4 GiB or more): larger than any template.
inline constexpr std::uint32_t kUnknownLength = 0xFFFFFFFF;

// What a read, a write, a rewind or a flush came to. On failure,
// systemError is the system's own code for why (errno on Linux,
// GetLastError() on Windows), for a program to put into words; the engine
// only passes it on.
struct FileResult {
    bool ok = true;
    std::uint32_t systemError = 0;
};

// An opaque handle of a folder held open while its series is served.
// kNoFolder is the one value that stands for no folder.
using FolderHandle = std::intptr_t;
inline constexpr FolderHandle kNoFolder = -1;

// Why an open for writing failed. Busy, missing, read-only and refused names
// are all Unavailable: the repair step waits and tries again. NoExclusivity
// means the file exists but the platform cannot guarantee that nobody else has
// it open (a file system without leases, say), so the engine must never write
// it and tells the user once. OtherOwner: the file belongs to somebody else
// than the series' base file (in a folder several users may write), so it is
// never written either, and told once. FolderGone: the held folder's name no
// longer leads to it (moved, deleted, or a folder above it replaced by a
// link); nothing is opened until it does again.
enum class OpenFailure { None, Unavailable, NoExclusivity, OtherOwner, FolderGone };

class RepairFiles {
public:
    // Read access to an existing regular file, exclusive. The name is taken as
    // the platform resolves it (relative names against the current directory).
    virtual FileHandle OpenForReading(const char* name) = 0;

    // Holds the folder `directory` (absolute, ending with its separator)
    // from the start of a series on: its follow-up files are then opened in
    // this very folder, never through a link, whatever happens meanwhile to
    // its name or to the folders above it. kNoFolder when it cannot be
    // opened (missing, not a folder).
    virtual FolderHandle HoldFolder(const char* directory) = 0;
    virtual void ReleaseFolder(FolderHandle folder) = 0;

    // Write access to the existing regular file `name` inside the held
    // `folder`, exclusive, never creating or truncating it; the file position
    // starts at 0. `baseName` is the series' base file in the same folder:
    // where files have owners, only a file of its owner is written. On
    // failure returns kNoFile and sets *failure.
    virtual FileHandle OpenForWriting(FolderHandle folder, const char* name, const char* baseName,
                                      OpenFailure* failure) = 0;

    // The file's size; kUnknownLength when it cannot be told or does not fit.
    virtual std::uint32_t FileLength(FileHandle file) = 0;

    // One read or write at the current position.
    virtual FileResult ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                                 std::uint32_t* bytesRead) = 0;
    virtual FileResult WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                                  std::uint32_t* bytesWritten) = 0;

    // Back to the start of a file opened by OpenForWriting, after its head
    // was read through the same handle (where the layer opens it readable).
    virtual FileResult Rewind(FileHandle file) = 0;

    // Nothing more will be written to the file before CloseFile. Where the
    // platform makes other programs wait while this one holds a file (a
    // lease on Linux), they are let in now instead of waiting, for as long
    // as a message is shown. Where they are refused at once (Windows),
    // nothing needs to change.
    virtual void StopWriting(FileHandle /*file*/) {}

    // Makes what was written to the file durable: on the disk, not only in
    // the system's cache, so that it survives a power cut.
    virtual FileResult FlushFile(FileHandle file) = 0;

    virtual void CloseFile(FileHandle file) = 0;

    // The longest path, in bytes, that the platform opens: directory and
    // follow-up name joined must stay within it.
    virtual std::uint32_t MaxPathLength() const = 0;

protected:
    ~RepairFiles() = default;
};

// Passes every file operation to another layer; wrappers override only what
// they watch or change.
class ForwardingFiles : public RepairFiles {
public:
    explicit ForwardingFiles(RepairFiles& inner) : inner_(inner) {}

    FileHandle OpenForReading(const char* name) override { return inner_.OpenForReading(name); }
    FolderHandle HoldFolder(const char* directory) override { return inner_.HoldFolder(directory); }
    void ReleaseFolder(FolderHandle folder) override { inner_.ReleaseFolder(folder); }
    FileHandle OpenForWriting(FolderHandle folder, const char* name, const char* baseName,
                              OpenFailure* failure) override {
        return inner_.OpenForWriting(folder, name, baseName, failure);
    }
    std::uint32_t FileLength(FileHandle file) override { return inner_.FileLength(file); }
    FileResult ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                         std::uint32_t* bytesRead) override {
        return inner_.ReadBytes(file, buffer, count, bytesRead);
    }
    FileResult WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                          std::uint32_t* bytesWritten) override {
        return inner_.WriteBytes(file, bytes, count, bytesWritten);
    }
    FileResult Rewind(FileHandle file) override { return inner_.Rewind(file); }
    void StopWriting(FileHandle file) override { inner_.StopWriting(file); }
    FileResult FlushFile(FileHandle file) override { return inner_.FlushFile(file); }
    void CloseFile(FileHandle file) override { inner_.CloseFile(file); }
    std::uint32_t MaxPathLength() const override { return inner_.MaxPathLength(); }

protected:
    ~ForwardingFiles() = default;

private:
    RepairFiles& inner_;
};
