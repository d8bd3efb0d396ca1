// The file operations on Linux. Exclusivity is checked by the kernel: a write
// lease (F_SETLEASE) is granted only while no other open of the file exists,
// in any process, and while it is held every other open waits for us. That
// proof holds only on file systems where the kernel sees every open (local
// disks and memory); elsewhere follow-up files are never written. A
// follow-up file is never written through a symbolic link.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "repair_files.h"

class LinuxRepairFiles final : public RepairFiles {
public:
    // Ignores SIGIO (sent when another program asks for a file this program
    // holds leased) and SIGXFSZ (so a write past the size limit fails instead
    // of ending the program).
    LinuxRepairFiles();

    FileHandle OpenForReading(const char* name) override;
    FileHandle OpenForWriting(const char* directory, const char* name,
                              OpenFailure* failure) override;
    std::uint32_t FileLength(FileHandle file) override;
    bool ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                   std::uint32_t* bytesRead) override;
    bool WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                    std::uint32_t* bytesWritten) override;
    void StopWriting(FileHandle file) override;
    bool FlushFile(FileHandle file) override;
    void CloseFile(FileHandle file) override;
    std::uint32_t MaxPathLength() const override;

private:
    struct HeldFile {
        int fd;
        std::string path;
    };

    // The follow-up file behind nameFd (an O_PATH descriptor of its name):
    // only a regular file that may be written, on a file system where the
    // kernel sees every open, that nobody else has open.
    FileHandle OpenFollowUpFile(int nameFd, const char* path, OpenFailure* failure);
    // A real open of the file behind nameFd, never of another one.
    int Reopen(int nameFd, const struct stat& named, const char* path, int accessMode) const;
    bool IsHeld(const char* path) const;

    const bool overridesPermissions_;
    const bool canReopenThroughProc_;
    // Files this program has open, by the path it opened them with. Opening
    // one of them again fails without asking the kernel, whose open would
    // break our own lease.
    std::vector<HeldFile> held_;
};

// True when name can only mean a file directly inside a directory: not empty,
// no '/', not "." or "..".
bool IsPlainFileName(const char* name);
