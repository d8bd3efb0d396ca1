// The file operations on Linux. Exclusivity is checked by the kernel: a write
// lease (F_SETLEASE) is granted only while no other open of the file exists,
// in any process, and while it is held every other open waits for us.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "repair_files.h"

class PosixRepairFiles final : public RepairFiles {
public:
    // Ignores SIGIO (sent when another program asks for a file this program
    // holds leased) and SIGXFSZ (so a write past the size limit fails instead
    // of ending the program).
    PosixRepairFiles();

    FileHandle OpenForReading(const char* name) override;
    FileHandle OpenForWriting(const char* directory, const char* name,
                              OpenFailure* failure) override;
    std::uint32_t FileLength(FileHandle file) override;
    bool ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                   std::uint32_t* bytesRead) override;
    bool WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                    std::uint32_t* bytesWritten) override;
    void CloseFile(FileHandle file) override;
    std::uint32_t MaxPathLength() const override;

private:
    struct HeldFile {
        int fd;
        std::string path;
    };

    // The open, then the write lease that proves nobody else has the file
    // open, then the read-only rule for writing.
    FileHandle OpenExclusive(const char* path, int accessMode, OpenFailure* failure);
    // The open of a regular file, without the lease.
    FileHandle OpenChecked(const char* path, int accessMode);
    int OpenWithoutBlocking(const char* path, int accessMode) const;
    bool IsHeld(const char* path) const;

    const bool overridesPermissions_;
    // Files this program has open, by the path it opened them with. Opening
    // one of them again fails without asking the kernel, whose open would
    // break our own lease. (Another name for a held file cannot get past the
    // kernel: the lease, or our open descriptor, refuses it.)
    std::vector<HeldFile> held_;
};

// True when name can only mean a file directly inside a directory: not empty,
// no '/', not "." or "..".
bool IsPlainFileName(const char* name);
