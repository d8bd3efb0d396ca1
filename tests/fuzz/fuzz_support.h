// Shared by the fuzz targets: a check that stops the run with a message, and
// a reader that takes numbers and texts off the front of the fuzz input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken promise ends the run, so libFuzzer records the input.
inline void Require(bool condition, const char* promise) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() { return used_ < size_ ? data_[used_++] : 0; }
    std::uint16_t Word() {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | (Byte() << 8));
    }
    std::uint32_t Long() {
        const std::uint32_t low = Word();
        return low | (static_cast<std::uint32_t>(Word()) << 16);
    }
    // Up to `length` bytes as they come, zero bytes included.
    std::string Bytes(std::size_t length) {
        const std::size_t n = length < size_ - used_ ? length : size_ - used_;
        std::string text(reinterpret_cast<const char*>(data_ + used_), n);
        used_ += n;
        return text;
    }
    std::string Rest() { return Bytes(size_ - used_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
};
