#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "folder_listing.h"

namespace {

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Some file systems leave the type to a stat of the name (never through a
// link).
EntryKind KindOf(DIR* folder, const dirent& entry) {
    if (entry.d_type == DT_DIR) {
        return EntryKind::Subfolder;
    }
    struct stat status {};
    if (entry.d_type == DT_UNKNOWN &&
        fstatat(dirfd(folder), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(status.st_mode)) {
        return EntryKind::Subfolder;
    }
    return EntryKind::MayBeFile;
}

}  // namespace

bool ListFolder(const char* path,
                const std::function<void(const char* name, EntryKind kind)>& onEntry,
                std::string* error) {
    DIR* folder = opendir(path);
    if (folder == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    int readError = 0;
    for (;;) {
        errno = 0;  // readdir tells the end from a failure only by errno
        const dirent* entry = readdir(folder);
        if (entry == nullptr) {
            readError = errno;
            break;
        }
        if (!IsDotOrDotDot(entry->d_name)) {
            onEntry(entry->d_name, KindOf(folder, *entry));
        }
    }
    closedir(folder);
    if (readError != 0) {
        *error = std::strerror(readError);
        return false;
    }
    return true;
}
