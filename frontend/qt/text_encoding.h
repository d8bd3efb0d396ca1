// Conversions between the engine's byte strings and Qt's texts. The engine's
// own texts are Windows-1252; file names are in the file system's encoding.
#pragma once

#include <QString>
#include <cstddef>

// Windows-1252 to Unicode. The five bytes that code page leaves undefined map
// to the C1 control of the same value, so no byte is ever lost.
QString DecodeWindows1252(const char* text);

// A file name or other text in the file system's encoding.
QString DecodeFileSystemText(const char* text);

// text with Unicode's line and paragraph separators (U+2028, U+2029) shown
// as \u2028 and \u2029: Qt's text drawing starts a new line at the first as
// at a newline, so a name holding one would show as two lines.
QString EscapeLineSeparators(const QString& text);

// Encodes text in the file system's encoding into buffer, at most size - 1
// bytes and never ending inside a character, always zero-terminated.
void EncodeFileSystemText(const QString& text, char* buffer, std::size_t size);
