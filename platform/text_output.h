// Text written straight to a descriptor, for a program that writes from
// threads of its own (the watch service's output) and must learn when
// nobody reads any more. One implementation per platform.
#pragma once

#include <functional>
#include <string>

enum class TextWriteResult { Written, ReaderGone, Failed };

// Writes UTF-8 text to a descriptor of the C library (1, 2, or a pipe or
// file) as WriteText (system_text.h) does, past the C library's buffer and in
// one write where the system takes it whole: a line to a pipe, as journald
// reads line by line. Waits as long as the reader does. ReaderGone: the
// pipe's reading end is closed (see StartQuietThreads). *error holds the
// system's reason unless Written.
TextWriteResult WriteTextTo(int descriptor, const std::string& text, std::string* error);

// Calls `start`, which makes threads, such that they take none of the
// process's signals (Linux: these stay with the thread that waits for
// them), and ignores SIGPIPE from then on, so that a write to a pipe
// nobody reads fails as ReaderGone instead of ending the program.
void StartQuietThreads(const std::function<void()>& start);
