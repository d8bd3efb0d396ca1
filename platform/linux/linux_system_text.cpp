#include <cerrno>
#include <cstring>

#include "byte_text.h"
#include "system_text.h"

std::string LastSystemErrorText() {
    return SystemErrorText(static_cast<std::uint32_t>(errno));
}

std::string SystemErrorText(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

std::string NameAsText(const std::string& name) {
    // UTF-8 bytes as the file system holds them; a control character in a
    // name would start a new line or steer a terminal.
    return Utf8WithControlsEscaped(name);
}

void WriteText(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}
