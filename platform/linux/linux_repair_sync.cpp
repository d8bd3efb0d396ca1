#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "repair_sync.h"
#include "unique_fd.h"

bool FlushesEachRepair() {
    return false;
}

bool BeginRepairSync(const char* folder, RepairSync* sync, std::string* error) {
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that may be searched but not read cannot be opened for
    // syncfs; its files are repaired all the same.
    if (fd < 0 && errno == EACCES) {
        sync->wholeSystem = true;
        return true;
    }
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    sync->folder = fd;
    return true;
}

bool FinishRepairSync(RepairSync* sync, std::string* error) {
    if (sync->wholeSystem) {
        sync->wholeSystem = false;
        ::sync();  // waits for the write-back, but tells of no error
        return true;
    }
    const UniqueFd folder(static_cast<int>(std::exchange(sync->folder, -1)));
    // Since Linux 5.8 syncfs also fails for a write-back error that struck
    // the file system since the descriptor was opened.
    const bool synced = syncfs(folder.get()) == 0;
    if (!synced) {
        *error = std::strerror(errno);
    }
    return synced;
}
