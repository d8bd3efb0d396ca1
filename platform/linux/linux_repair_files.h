// The file operations on Linux. Exclusivity is checked by the kernel: a write
// lease (F_SETLEASE) is granted only while no other open of the file exists,
// in any process, and while it is held every other open waits for us. That
// proof holds only on file systems where the kernel sees every open (local
// disks and memory); elsewhere follow-up files are never written. A
// follow-up file is opened relative to its held folder's descriptor, never
// through a symbolic link, and only when it belongs to its base file's owner.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

#include "repair_files.h"
#include "unique_fd.h"

// Recordings pass 4 GiB and files are dated after 2038: a 32-bit build
// without 64-bit offsets and times (CMakeLists.txt asks for them) could not
// even open or look at such a file.
static_assert(sizeof(off_t) == 8 && sizeof(time_t) == 8, "64-bit file offsets and times needed");

// What differs between the programs over this layer.
struct LinuxFilesOptions {
    // Whether a follow-up file is opened for reading as well, so that its
    // head can be judged once nobody else can change it (the command-line
    // program, HeadCheck::InsideTheOpen); the window only writes.
    bool headReadWhileHeld = false;
    // Whether other programs may read the template while it is held (never
    // write it): the command-line service lets a check or a repair beside it
    // read it. The window holds it alone, so a second copy is refused.
    bool templateReadableByOthers = false;
};

class LinuxRepairFiles : public RepairFiles {
public:
    // Ignores SIGIO (sent when another program asks for a file this program
    // holds leased) and SIGXFSZ (so a write past the size limit fails instead
    // of ending the program).
    explicit LinuxRepairFiles(LinuxFilesOptions options = {});
    LinuxRepairFiles(const LinuxRepairFiles&) = delete;
    LinuxRepairFiles& operator=(const LinuxRepairFiles&) = delete;

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
    void StopWriting(FileHandle file) override;
    FileResult FlushFile(FileHandle file) override;
    void CloseFile(FileHandle file) override;
    std::uint32_t MaxPathLength() const override;

    // Holds the folder `name` inside the held folder `parent`, never
    // through a link; its path is the parent's with the name added.
    // kNoFolder when there is no such folder, or when holding it would leave
    // too few descriptors for the files to repair (*outOfDescriptors).
    FolderHandle HoldSubfolder(FolderHandle parent, const char* name, bool* outOfDescriptors);

    // Whether the held folder's name still leads to it (a folder whose name
    // no longer does counts as gone).
    bool NameLeadsToHeldFolder(FolderHandle folder) const;

private:
    struct HeldFile {
        UniqueFd fd;
        std::string path;  // the template's; empty for a follow-up file
        dev_t device;
        ino_t inode;
    };
    struct HeldFolder {
        UniqueFd fd;  // O_PATH | O_DIRECTORY
        std::string path;
        dev_t device;
        ino_t inode;
    };

    const HeldFolder* FindFolder(FolderHandle folder) const;
    // The follow-up file behind nameFd (an O_PATH descriptor of its name in
    // the held folder): only a regular file of the base file's owner that
    // may be written, on a file system where the kernel sees every open,
    // that nobody else has open.
    FileHandle OpenFollowUpFile(int nameFd, const HeldFolder& folder, const char* name,
                                const char* baseName, OpenFailure* failure);
    // A real open of the file behind nameFd, never of another one.
    UniqueFd Reopen(int nameFd, const struct stat& named, int folderFd, const char* name,
                    int accessMode) const;
    bool IsHeld(const char* path) const;
    bool IsHeld(const struct stat& file) const;

    const bool overridesPermissions_;
    const bool canReopenThroughProc_;
    const LinuxFilesOptions options_;
    // Files this program has open, by the path it opened them with. Opening
    // one of them again fails without asking the kernel, whose open would
    // break our own lease.
    std::vector<HeldFile> held_;
    // By descriptor: a service may hold thousands (watch --recursive), and
    // each open for writing finds its folder here.
    std::unordered_map<int, HeldFolder> folders_;
};
