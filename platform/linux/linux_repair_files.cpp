#include "linux_repair_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <utility>

#include "linux_file_checks.h"
#include "unique_fd.h"

namespace {

constexpr int kOpenFlags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

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
    return !S_ISLNK(itself.st_mode) || IsTrustedLink(itself.st_uid, target->st_uid);
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

LinuxRepairFiles::LinuxRepairFiles(LinuxFilesOptions options)
    : overridesPermissions_(CanOverridePermissions()),
      canReopenThroughProc_(access("/proc/self/fd", X_OK) == 0),
      options_(options) {
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
    UniqueFd file(open(name, O_RDONLY | kOpenFlags));
    struct stat opened {};
    // The name may have been pointed elsewhere since it was looked at.
    if (!file.valid() || fstat(file.get(), &opened) != 0 || !IsSameFile(named, opened)) {
        return kNoFile;
    }
    // The lease shows that nobody else has the file open (held alone) or
    // open for writing (readers allowed). Where leases cannot be had, the
    // template is still only read. Reading does not need the lease any
    // longer, and holding it would stall every program that opens the
    // template meanwhile. The lock keeps a window away, and with the template
    // held alone any second copy of this program.
    const bool readersAllowed = options_.templateReadableByOthers;
    if ((readersAllowed ? TakeReadLease(file.get()) : TakeWriteLease(file.get())) == Lease::Busy) {
        return kNoFile;
    }
    fcntl(file.get(), F_SETLEASE, F_UNLCK);
    if (flock(file.get(), (readersAllowed ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        return kNoFile;
    }
    const int fd = file.get();
    held_.push_back({std::move(file), name, opened.st_dev, opened.st_ino});
    return fd;
}

FolderHandle LinuxRepairFiles::HoldFolder(const char* directory) {
    // Only an absolute folder: nothing is ever resolved against the current
    // directory. Links in the path are followed now, once, as the user
    // named it; what the files are opened in from now on is this folder.
    if (directory[0] != '/') {
        return kNoFolder;
    }
    UniqueFd folder(open(directory, O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!folder.valid() || fstat(folder.get(), &status) != 0) {
        return kNoFolder;
    }
    const int fd = folder.get();
    folders_.emplace(fd, HeldFolder{std::move(folder), directory, status.st_dev, status.st_ino});
    return fd;
}

FolderHandle LinuxRepairFiles::HoldSubfolder(FolderHandle parent, const char* name,
                                             bool* outOfDescriptors) {
    *outOfDescriptors = false;
    const HeldFolder* above = FindFolder(parent);
    if (above == nullptr || !IsPlainFileName(name)) {
        return kNoFolder;
    }
    // A link in its place is opened as itself, which is no folder.
    UniqueFd folder(openat(above->fd.get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // No descriptor left, or it took one of those left for the files.
    *outOfDescriptors = folder.valid() ? TakesADescriptorKeptFree(folder.get())
                                       : errno == EMFILE || errno == ENFILE;
    struct stat status {};
    if (*outOfDescriptors || !folder.valid() || fstat(folder.get(), &status) != 0 ||
        !S_ISDIR(status.st_mode)) {
        return kNoFolder;
    }
    const int fd = folder.get();
    folders_.emplace(
        fd, HeldFolder{std::move(folder), above->path + name + '/', status.st_dev, status.st_ino});
    return fd;
}

void LinuxRepairFiles::ReleaseFolder(FolderHandle folder) {
    // The entry owns the descriptor: erasing it closes the folder.
    folders_.erase(Fd(folder));
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
    const UniqueFd nameFd(openat(held->fd.get(), name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!nameFd.valid()) {
        return kNoFile;
    }
    return OpenFollowUpFile(nameFd.get(), *held, name, baseName, failure);
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
    if (!BelongsToBaseOwner(folder.fd.get(), baseName, named.st_uid)) {
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
    UniqueFd probe = Reopen(nameFd, named, folder.fd.get(), name, O_RDONLY);
    if (!probe.valid()) {
        return kNoFile;
    }
    const Lease probed = TakeWriteLease(probe.get());
    probe.reset();  // and with it the lease
    if (probed != Lease::Granted) {
        if (probed == Lease::Impossible) {
            *failure = OpenFailure::NoExclusivity;
        }
        return kNoFile;
    }
    // Nobody had it a moment ago. Should the recorder open it again right
    // now, this lease is refused and the file is left alone.
    UniqueFd file = Reopen(nameFd, named, folder.fd.get(), name,
                           options_.headReadWhileHeld ? O_RDWR : O_WRONLY);
    struct stat leased {};
    if (!file.valid() || TakeWriteLease(file.get()) != Lease::Granted ||
        fstat(file.get(), &leased) != 0 || leased.st_size == 0 || leased.st_nlink != 1) {
        return kNoFile;
    }
    // Its writer may have given it away before it let go: the owner that
    // counts is the one now that nobody else has it open.
    if (leased.st_uid != named.st_uid) {
        *failure = OpenFailure::OtherOwner;
        return kNoFile;
    }
    const int fd = file.get();
    held_.push_back({std::move(file), std::string(), leased.st_dev, leased.st_ino});
    *failure = OpenFailure::None;
    return fd;
}

UniqueFd LinuxRepairFiles::Reopen(int nameFd, const struct stat& named, int folderFd,
                                  const char* name, int accessMode) const {
    // Through the descriptor of the name, the very file that was looked at
    // is opened, whatever has happened to its name since.
    if (canReopenThroughProc_) {
        char descriptorPath[32];
        std::snprintf(descriptorPath, sizeof descriptorPath, "/proc/self/fd/%d", nameFd);
        return UniqueFd(open(descriptorPath, accessMode | kOpenFlags));
    }
    UniqueFd file(openat(folderFd, name, accessMode | O_NOFOLLOW | kOpenFlags));
    struct stat opened {};
    if (file.valid() && (fstat(file.get(), &opened) != 0 || !IsSameFile(named, opened))) {
        file.reset();
    }
    return file;
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
    const ssize_t result = RetryInterrupted([&] { return read(Fd(file), buffer, count); });
    *bytesRead = result < 0 ? 0 : static_cast<std::uint32_t>(result);
    return ResultOf(result >= 0);
}

FileResult LinuxRepairFiles::WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                                        std::uint32_t* bytesWritten) {
    const ssize_t result = RetryInterrupted([&] { return write(Fd(file), bytes, count); });
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
    return ResultOf(RetryInterrupted([&] { return fdatasync(Fd(file)); }) == 0);
}

void LinuxRepairFiles::CloseFile(FileHandle file) {
    // Erasing the entry closes the file, which drops the lease and the lock.
    std::erase_if(held_, [&](const HeldFile& held) { return held.fd.get() == Fd(file); });
}

std::uint32_t LinuxRepairFiles::MaxPathLength() const {
    return PATH_MAX - 1;
}
