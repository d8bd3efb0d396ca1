// Real files in a temporary folder, child processes that hold them open the
// way a recorder does (without any lock), and the controller started in a
// folder of its own.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "repair_controller.h"
#include "test_files.h"

// A child process that keeps a file open, as another program would, until
// Release(). Modes: O_RDONLY, O_WRONLY, or kMapped (mapped, descriptor closed).
class HolderProcess {
public:
    static constexpr int kMapped = -1;

    HolderProcess(const std::string& path, int mode) {
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            Hold(path, mode, ready[1], release[0]);
        }
        close(ready[1]);
        close(release[0]);
        releaseFd_ = release[1];
        char byte = 0;
        held_ = read(ready[0], &byte, 1) == 1 && byte == 'y';
        close(ready[0]);
    }
    ~HolderProcess() { Release(); }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    bool held() const { return held_; }

    void Release() {
        if (pid_ > 0) {
            close(releaseFd_);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    [[noreturn]] static void Hold(const std::string& path, int mode, int readyFd, int releaseFd) {
        const int fd = open(path.c_str(), mode == kMapped ? O_RDWR : mode);
        void* map = nullptr;
        if (fd >= 0 && mode == kMapped) {
            map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            close(fd);
        }
        const bool held = fd >= 0 && map != MAP_FAILED;
        (void)!write(readyFd, held ? "y" : "n", 1);
        char byte;
        (void)!read(releaseFd, &byte, 1);  // returns when the parent closes its end
        _exit(0);
    }

    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool held_ = false;
};

// Runs body in a child process and returns its exit status (or -1).
inline int RunInChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Makes the calling (child) process an ordinary user: uid and gid 65534.
inline bool BecomeNobody() {
    return setgid(65534) == 0 && setuid(65534) == 0;
}

// Drops the calling (child) process's power to write files regardless of
// their permission bits, as `setpriv --inh-caps=-dac_override` would.
inline bool DropPermissionOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    data[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
    return syscall(SYS_capset, &header, data) == 0;
}

// Runs the test body with the working directory set to dir.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& dir) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer)) {
            previous_ = buffer;
        }
        (void)!chdir(dir.c_str());
    }
    ~ScopedWorkingDirectory() { (void)!chdir(previous_.c_str()); }
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

private:
    std::string previous_ = "/";
};

// Starts the controller as the program starts in dir: it loads dir's
// header.mpeg. False when the template is refused.
inline bool StartUpIn(RepairController& controller, const std::string& dir) {
    ScopedWorkingDirectory cwd(dir);
    return controller.OnStartup();
}
