#include "write_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "recording_parts.h"

namespace {

bool WriteAllOf(int fd, const unsigned char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = write(fd, data + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    return WriteAllOf(fd, bytes.data(), bytes.size());
}

bool RecordHeld(const std::string& path, const std::vector<unsigned char>& bytes, int steps,
                std::chrono::milliseconds pause) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool written = true;
    for (int step = 1; written && step <= steps; ++step) {
        const std::size_t from = StepEnd(bytes.size(), step - 1, steps);
        const std::size_t to = StepEnd(bytes.size(), step, steps);
        written = WriteAllOf(fd, bytes.data() + from, to - from);
        if (step < steps) {
            std::this_thread::sleep_for(pause);
        }
    }
    return close(fd) == 0 && written;
}
