#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "follow_up_name.h"
#include "linux_file_checks.h"
#include "paths.h"

bool AbsolutePath(const char* path, std::string* absolute) {
    if (path[0] == '/') {
        *absolute = path;
        return true;
    }
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) {
        return false;
    }
    *absolute = folder;
    if (absolute->back() != '/') {
        *absolute += '/';
    }
    *absolute += path;
    return true;
}

void SplitPath(const std::string& path, std::string* directory, std::string* name) {
    const std::size_t slash = path.rfind('/');
    *directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsRegularFile(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool AreSameFile(const char* first, const char* second) {
    struct stat a {};
    struct stat b {};
    return stat(first, &a) == 0 && stat(second, &b) == 0 && IsSameFile(a, b);
}

bool MayStandInFileName(const std::string& text) {
    return text.find('/') == std::string::npos && text.find('\0') == std::string::npos;
}

std::size_t RoomForNamesInFolder() {
    return kMaxNameLength;
}
