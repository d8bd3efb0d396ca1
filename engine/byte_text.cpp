#include "byte_text.h"

#include <cstring>

std::size_t CopyText(char* destination, std::size_t size, const char* source,
                     std::size_t maxLength) {
    if (size == 0) {
        return 0;
    }
    const std::size_t room = size - 1;
    const std::size_t length = BoundedLength(source, maxLength < room ? maxLength : room);
    std::memmove(destination, source, length);
    destination[length] = '\0';
    return length;
}

std::size_t BoundedLength(const char* text, std::size_t maxLength) {
    std::size_t length = 0;
    while (length < maxLength && text[length] != '\0') {
        ++length;
    }
    return length;
}
