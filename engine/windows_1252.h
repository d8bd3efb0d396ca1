// Windows-1252, the code page of the program's own texts (its messages,
// captions and the words of its status lines), decoded for the front ends
// that show text as Unicode.
#pragma once

#include <string>

// The character a byte stands for. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 control of the
// same value, so that no byte is ever lost.
char32_t Windows1252CodePoint(unsigned char byte);

// Zero-terminated Windows-1252 text as UTF-8.
std::string Windows1252ToUtf8(const char* text);
