// A Windows handle that is closed when its owner goes out of scope, so that
// no early return leaves one open.
#pragma once

#include <windows.h>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }

    // CreateFile's failure is INVALID_HANDLE_VALUE, other calls' is null.
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

    // Hands the handle over to a caller that closes it itself.
    HANDLE release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

    // Closes the handle held so far and takes `handle` instead.
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid() && handle_ != handle) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

    // Closes the handle now, for a caller that needs to know whether the
    // system could (a close can report a write that failed late).
    bool close() {
        const bool closed = !valid() || CloseHandle(handle_) != FALSE;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
