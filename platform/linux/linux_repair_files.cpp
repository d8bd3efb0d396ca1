#include "linux_repair_files.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "unique_fd.h"

namespace {

constexpr int kOpenFlags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// File systems on which the kernel itself sees every open of a file, so a
// lease it grants proves that nobody has the file open. On FUSE (sshfs,
// bindfs, GVfs), overlay and network file systems a writer may hold the file
// through another inode or another machine and the lease would still be
// granted. (Values from <linux/magic.h>.)
constexpr unsigned long kFileSystemsThatSeeEveryOpen[] = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0xF2F52010,  // f2fs
    0x01021994,  // tmpfs
    0x858458F6,  // ramfs
    0x3153464A,  // jfs
    0x52654973,  // reiserfs
    0x3434,      // nilfs2
    0xCA451A4E,  // bcachefs
    0x4D44,      // vfat (msdos)
    0x2011BAB0,  // exfat
    0x7366746E,  // ntfs3
    0x482B,      // hfsplus
};

enum class Lease { Granted, Busy, Impossible };

// A write lease is granted only on a file that has no other open anywhere,
// this program's own included. EAGAIN: somebody has it open. Anything else
// (EACCES for a file of another user, EINVAL where leases are off): nobody
// can tell who has it open.
Lease TakeWriteLease(int fd) {
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        return Lease::Granted;
    }
    return errno == EAGAIN ? Lease::Busy : Lease::Impossible;
}

bool KernelSeesEveryOpen(int fd) {
    struct statfs fileSystem {};
    if (fstatfs(fd, &fileSystem) != 0) {
        return false;
    }
    const auto type = static_cast<unsigned long>(fileSystem.f_type) & 0xFFFFFFFFul;
    for (const unsigned long known : kFileSystemsThatSeeEveryOpen) {
        if (type == known) {
            return true;
        }
    }
    return false;
}

bool IsSameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether a follow-up file, seen by the stat of its name, may be written now.
// - Where this program may override permissions, a file without any write
//   permission bit is still read-only, as it is for an administrator on
//   Windows; otherwise the kernel's own answer counts (ACLs and read-only
//   mounts included), asked without opening anything.
// - A file that is still empty may be one whose creator is still inside the
//   open that creates it: the kernel shows the new file, and grants a lease
//   on it, before that open counts. The creator writes its head once its
//   open returns, over anything written meanwhile. An empty file has nothing
//   recorded yet anyway, so it is waited for like a missing one.
bool MayWriteNow(int nameFd, const struct stat& status, bool overridesPermissions) {
    if (status.st_size == 0) {
        return false;
    }
    if (overridesPermissions && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return false;
    }
    if (faccessat(nameFd, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0) {
        return true;
    }
    // Before Linux 5.8 (faccessat2) the C library refuses AT_EMPTY_PATH; the
    // descriptor's entry in /proc/self/fd leads to the same file.
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", nameFd);
    return errno == EINVAL && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// Whether the kernel lets this process write files regardless of their
// permission bits (root, unless the capability was dropped).
bool CanOverridePermissions() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return geteuid() == 0;
    }
    return (data[0].effective & (1u << CAP_DAC_OVERRIDE)) != 0;
}

// header.mpeg may be a link the user made, but never one that another user
// planted in a folder others can write: its bytes end up in every repaired
// file. As the kernel's protected-symlinks rule has it, a link is followed
// only when it belongs to this user or to the owner of the file it names.
// *target is the file the name leads to.
bool IsTrustedName(const char* name, struct stat* target) {
    struct stat itself {};
    if (lstat(name, &itself) != 0 || stat(name, target) != 0) {
        return false;
    }
    return !S_ISLNK(itself.st_mode) || itself.st_uid == geteuid() ||
           itself.st_uid == target->st_uid;
}

// A call's outcome, with errno as its reason when it failed.
FileResult ResultOf(bool succeeded) {
    return succeeded ? FileResult{} : FileResult{false, static_cast<std::uint32_t>(errno)};
}

int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// Whether the folder's name still leads to the folder held under it. When
// it does not (moved, deleted, or a folder above it swapped for a link),
// the series' folder counts as gone.
template <typename Folder>
bool NameLeadsToFolder(const Folder& folder) {
    struct stat now {};
    return stat(folder.path.c_str(), &now) == 0 && now.st_dev == folder.device &&
           now.st_ino == folder.inode;
}

// In a folder several users may write, another user's file that is named
// like a follow-up file of this base file must not lose its head: only a
// file of the base file's owner is written (the base name itself counts, so
// a link is its maker's). Without a base file, only this user's own file.
bool BelongsToBaseOwner(int folderFd, const char* baseName, uid_t owner) {
    struct stat base {};
    if (!IsPlainFileName(baseName)) {
        return false;
    }
    if (fstatat(folderFd, baseName, &base, AT_SYMLINK_NOFOLLOW) == 0) {
        return base.st_uid == owner;
    }
    return errno == ENOENT && owner == geteuid();
}

}  // namespace

bool IsPlainFileName(const char* name) {
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
}

LinuxRepairFiles::LinuxRepairFiles(bool headReadWhileHeld)
    : overridesPermissions_(CanOverridePermissions()),
      canReopenThroughProc_(access("/proc/self/fd", X_OK) == 0),
      headReadWhileHeld_(headReadWhileHeld) {
    signal(SIGIO, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

FileHandle LinuxRepairFiles::OpenForReading(const char* name) {
    // A file this program holds is not opened again: a second open would
    // break our own lease. (Another name for a held file cannot get past the
    // kernel: the lease, or our open descriptor, refuses it.)
    struct stat named {};
    if (IsHeld(name) || !IsTrustedName(name, &named) || !S_ISREG(named.st_mode)) {
        return kNoFile;
    }
    const int fd = open(name, O_RDONLY | kOpenFlags);
    struct stat opened {};
    if (fd < 0) {
        return kNoFile;
    }
    // The name may have been pointed elsewhere since it was looked at.
    if (fstat(fd, &opened) != 0 || !IsSameFile(named, opened) ||
        TakeWriteLease(fd) == Lease::Busy) {
        close(fd);
        return kNoFile;
    }
    // The lease showed that nobody else had the file open (where leases
    // cannot be had, the template is still only read). Reading does not need
    // it any longer, and holding it would stall every program that opens the
    // template meanwhile. The lock keeps a second copy of this program away.
    fcntl(fd, F_SETLEASE, F_UNLCK);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return kNoFile;
    }
    held_.push_back({fd, name, opened.st_dev, opened.st_ino});
    return fd;
}

LinuxRepairFiles::~LinuxRepairFiles() {
    for (const auto& [fd, folder] : folders_) {
        close(fd);
    }
}

FolderHandle LinuxRepairFiles::HoldFolder(const char* directory) {
    // Only an absolute folder: nothing is ever resolved against the current
    // directory. Links in the path are followed now, once, as the user
    // named it; what the files are opened in from now on is this folder.
    if (directory[0] != '/') {
        return kNoFolder;
    }
    const int fd = open(directory, O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0) {
        return kNoFolder;
    }
    if (fstat(fd, &status) != 0) {
        close(fd);
        return kNoFolder;
    }
    folders_[fd] = {fd, directory, status.st_dev, status.st_ino};
    return fd;
}

FolderHandle LinuxRepairFiles::HoldSubfolder(FolderHandle parent, const char* name) {
    const HeldFolder* above = FindFolder(parent);
    if (above == nullptr || !IsPlainFileName(name)) {
        return kNoFolder;
    }
    // A link in its place is opened as itself, which is no folder.
    UniqueFd fd(openat(above->fd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!fd.valid() || fstat(fd.get(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return kNoFolder;
    }
    std::string path = above->path + name + '/';
    folders_[fd.get()] = {fd.get(), std::move(path), status.st_dev, status.st_ino};
    return fd.release();
}

void LinuxRepairFiles::ReleaseFolder(FolderHandle folder) {
    const auto held = folders_.find(Fd(folder));
    if (held != folders_.end()) {
        close(held->first);
        folders_.erase(held);
    }
}

bool LinuxRepairFiles::NameLeadsToHeldFolder(FolderHandle folder) const {
    const HeldFolder* held = FindFolder(folder);
    return held != nullptr && NameLeadsToFolder(*held);
}

const LinuxRepairFiles::HeldFolder* LinuxRepairFiles::FindFolder(FolderHandle folder) const {
    const auto held = folders_.find(Fd(folder));
    return held == folders_.end() ? nullptr : &held->second;
}

FileHandle LinuxRepairFiles::OpenForWriting(FolderHandle folder, const char* name,
                                            const char* baseName, OpenFailure* failure) {
    *failure = OpenFailure::Unavailable;
    const HeldFolder* held = FindFolder(folder);
    // Only a plain name inside the held folder.
    if (held == nullptr || !IsPlainFileName(name)) {
        return kNoFile;
    }
    if (!NameLeadsToFolder(*held)) {
        *failure = OpenFailure::FolderGone;
        return kNoFile;
    }
    // The name itself, not what a link in its place points to, and without
    // opening it: a FIFO, a device or a link is never opened at all.
    const int nameFd = openat(held->fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (nameFd < 0) {
        return kNoFile;
    }
    const FileHandle file = OpenFollowUpFile(nameFd, *held, name, baseName, failure);
    close(nameFd);
    return file;
}

FileHandle LinuxRepairFiles::OpenFollowUpFile(int nameFd, const HeldFolder& folder,
                                              const char* name, const char* baseName,
                                              OpenFailure* failure) {
    struct stat named {};
    // A file with a second name (a hard link) may be one outside the
    // folder: it is never written, as a symbolic link is not.
    if (fstat(nameFd, &named) != 0 || !S_ISREG(named.st_mode) || named.st_nlink != 1) {
        return kNoFile;
    }
    if (IsHeld(named)) {
        return kNoFile;  // asked on every tick while a message box keeps it open
    }
    if (!MayWriteNow(nameFd, named, overridesPermissions_)) {
        return kNoFile;
    }
    if (!BelongsToBaseOwner(folder.fd, baseName, named.st_uid)) {
        *failure = OpenFailure::OtherOwner;
        return kNoFile;
    }
    if (!KernelSeesEveryOpen(nameFd)) {
        *failure = OpenFailure::NoExclusivity;
        return kNoFile;
    }
    // Is anybody else holding the file? Asked with a read-only open: closing
    // a write-mode open would tell every watcher that a writer has finished
    // with the file, five times a second while the recorder is still at it.
    const int probe = Reopen(nameFd, named, folder.fd, name, O_RDONLY);
    if (probe < 0) {
        return kNoFile;
    }
    const Lease probed = TakeWriteLease(probe);
    close(probe);  // and with it the lease
    if (probed != Lease::Granted) {
        if (probed == Lease::Impossible) {
            *failure = OpenFailure::NoExclusivity;
        }
        return kNoFile;
    }
    // Nobody had it a moment ago. Should the recorder open it again right
    // now, this lease is refused and the file is left alone.
    const int fd = Reopen(nameFd, named, folder.fd, name, headReadWhileHeld_ ? O_RDWR : O_WRONLY);
    if (fd < 0) {
        return kNoFile;
    }
    struct stat leased {};
    if (TakeWriteLease(fd) != Lease::Granted || fstat(fd, &leased) != 0 || leased.st_size == 0) {
        close(fd);
        return kNoFile;
    }
    if (leased.st_nlink != 1) {
        close(fd);
        return kNoFile;
    }
    // Its writer may have given it away before it let go: the owner that
    // counts is the one now that nobody else has it open.
    if (leased.st_uid != named.st_uid) {
        close(fd);
        *failure = OpenFailure::OtherOwner;
        return kNoFile;
    }
    held_.push_back({fd, std::string(), leased.st_dev, leased.st_ino});
    *failure = OpenFailure::None;
    return fd;
}

int LinuxRepairFiles::Reopen(int nameFd, const struct stat& named, int folderFd, const char* name,
                             int accessMode) const {
    // Through the descriptor of the name, the very file that was looked at
    // is opened, whatever has happened to its name since.
    if (canReopenThroughProc_) {
        char descriptorPath[32];
        std::snprintf(descriptorPath, sizeof descriptorPath, "/proc/self/fd/%d", nameFd);
        return open(descriptorPath, accessMode | kOpenFlags);
    }
    const int fd = openat(folderFd, name, accessMode | O_NOFOLLOW | kOpenFlags);
    struct stat opened {};
    if (fd >= 0 && (fstat(fd, &opened) != 0 || !IsSameFile(named, opened))) {
        close(fd);
        return -1;
    }
    return fd;
}

bool LinuxRepairFiles::IsHeld(const char* path) const {
    for (const HeldFile& file : held_) {
        if (file.path == path) {
            return true;
        }
    }
    return false;
}

bool LinuxRepairFiles::IsHeld(const struct stat& status) const {
    for (const HeldFile& file : held_) {
        if (file.device == status.st_dev && file.inode == status.st_ino) {
            return true;
        }
    }
    return false;
}

std::uint32_t LinuxRepairFiles::FileLength(FileHandle file) {
    struct stat status {};
    if (fstat(Fd(file), &status) != 0 || status.st_size < 0 ||
        static_cast<unsigned long long>(status.st_size) >= kUnknownLength) {
        return kUnknownLength;
    }
    return static_cast<std::uint32_t>(status.st_size);
}

FileResult LinuxRepairFiles::ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                                       std::uint32_t* bytesRead) {
    ssize_t result;
    do {
        result = read(Fd(file), buffer, count);
    } while (result < 0 && errno == EINTR);
    *bytesRead = result < 0 ? 0 : static_cast<std::uint32_t>(result);
    return ResultOf(result >= 0);
}

FileResult LinuxRepairFiles::WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                                        std::uint32_t* bytesWritten) {
    ssize_t result;
    do {
        result = write(Fd(file), bytes, count);
    } while (result < 0 && errno == EINTR);
    *bytesWritten = result < 0 ? 0 : static_cast<std::uint32_t>(result);
    return ResultOf(result >= 0);
}

FileResult LinuxRepairFiles::Rewind(FileHandle file) {
    return ResultOf(lseek(Fd(file), 0, SEEK_SET) == 0);
}

void LinuxRepairFiles::StopWriting(FileHandle file) {
    // Without the lease another program's open goes ahead at once instead of
    // waiting out the kernel's lease-break time (45 s). Our descriptor stays
    // open, and held, so this program does not open the file again.
    fcntl(Fd(file), F_SETLEASE, F_UNLCK);
}

FileResult LinuxRepairFiles::FlushFile(FileHandle file) {
    // The file's bytes, and of its metadata only what reading them back
    // needs: a repair changes no size.
    int result;
    do {
        result = fdatasync(Fd(file));
    } while (result != 0 && errno == EINTR);
    return ResultOf(result == 0);
}

void LinuxRepairFiles::CloseFile(FileHandle file) {
    for (auto it = held_.begin(); it != held_.end(); ++it) {
        if (it->fd == Fd(file)) {
            held_.erase(it);
            break;
        }
    }
    close(Fd(file));  // drops the lease and the lock
}

std::uint32_t LinuxRepairFiles::MaxPathLength() const {
    return PATH_MAX - 1;
}
