// Checks and loops that both Linux file layers (the repair's and the
// command-line program's) need, written once.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>

// Makes a system call again for as long as a signal interrupts it (it then
// fails with EINTR); its result once it is done.
template <typename Call>
auto RetryInterrupted(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR) {
        result = call();
    }
    return result;
}

// True when name can only mean a file directly inside a directory: not empty,
// no '/', not "." or "..".
bool IsPlainFileName(const char* name);

// Whether two looks at a name saw the same file.
bool IsSameFile(const struct stat& a, const struct stat& b);

// Whether a symbolic link may be followed to its file, as the kernel's
// protected-symlinks rule has it: it belongs to this user or to the owner
// of the file it leads to. Another user's link to a third user's file
// could put anything into every repaired file.
bool IsTrustedLink(uid_t linkOwner, uid_t targetOwner);

// Writes all of `bytes`, past interrupted and partial writes, and waits
// where a descriptor left non-blocking is full. 0 when written, otherwise
// the system's reason (EIO for a write that took nothing).
int WriteAll(int fd, const void* bytes, std::size_t size);

// Reads until *count reaches `size` or the file ends, past interrupted
// reads. 0 when done, otherwise the system's reason.
int ReadAll(int fd, unsigned char* buffer, std::size_t size, std::size_t* count);

enum class Lease { Granted, Busy, Impossible };

// A write lease is granted only on a file that has no other open anywhere,
// this program's own included. Busy: somebody has it open. Impossible (a
// file of another user, or leases are off): nobody can tell who has it
// open.
Lease TakeWriteLease(int fd);
// A read lease (on a descriptor opened for reading only) is granted while
// nobody has the file open for writing; readers do not stand in its way.
Lease TakeReadLease(int fd);

// Whether the kernel itself sees every open of a file on the file system
// of `fd` (local disks and memory), so that a lease it grants proves that
// nobody else has the file open.
bool KernelSeesEveryOpen(int fd);

// Whether the kernel lets this process write files regardless of their
// permission bits (root, unless the capability was dropped).
bool CanOverridePermissions();

// Whether the descriptor `fd` is one of the last ones this process may open,
// left free for the files a service opens while it holds many folders.
bool TakesADescriptorKeptFree(int fd);
