#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "folder_listing.h"

bool ListFolderFiles(const char* path, const std::function<void(const char* name)>& onName,
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
        if (entry->d_type != DT_DIR) {
            onName(entry->d_name);
        }
    }
    closedir(folder);
    if (readError != 0) {
        *error = std::strerror(readError);
        return false;
    }
    return true;
}
