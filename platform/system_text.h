// Text between the command-line program and the system: the system's words
// for an error, names as message text, and text to the terminal. One
// implementation per platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The system's words for the last failed call (errno, GetLastError()),
// as UTF-8 text.
std::string LastSystemErrorText();

// The system's words for one of its error codes (a FileResult's
// systemError), as UTF-8 text.
std::string SystemErrorText(std::uint32_t code);

// The program's texts are UTF-8. A file name is text as the file system
// spells it: UTF-8 on Linux, the ANSI code page on Windows; this is its
// UTF-8 form, for messages.
std::string NameAsText(const std::string& name);

// Writes UTF-8 text to `stream` (stdout or stderr): on Linux as it is; on
// Windows as characters to a console window, and in the console's code
// page (the ANSI code page without a console) to a file or pipe.
void WriteText(std::FILE* stream, const std::string& text);
