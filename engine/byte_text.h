// Bounded copies of zero-terminated byte strings.
#pragma once

#include <cstddef>

// Copies at most maxLength bytes of source, and never more than fits in
// destination (size bytes), always zero-terminating it. Returns the number of
// bytes copied.
std::size_t CopyText(char* destination, std::size_t size, const char* source,
                     std::size_t maxLength);

// The length of text, counting at most maxLength bytes.
std::size_t BoundedLength(const char* text, std::size_t maxLength);
