// Helpers for the long-running and adversarial tests over the real Linux file
// layer: a view that keeps counts instead of every line, run sizes taken from
// the environment, checks run in a child process, and a file layer wrapper.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "repair_controller.h"
#include "repair_files.h"
#include "repair_view.h"

// Counts what the controller shows, and checks every text against the
// engine's length limits as it arrives.
class CountingView final : public RepairView {
public:
    long repaired = 0;
    long notRepaired = 0;
    long otherLines = 0;
    long errors = 0;
    long overlongTexts = 0;
    std::string lastLine;
    std::string lastError;
    std::string currentFile;
    std::string toggleCaption = "Start";

    void ShowError(const char* text) override {
        ++errors;
        lastError = text;
    }
    void CloseMainWindow() override {}
    void ReadPostfixField(char* buffer, std::size_t size) override {
        std::snprintf(buffer, size, "#");
    }
    void SetCurrentFileText(const char* text) override {
        Check(text, kMaxNameLength);
        currentFile = text;
    }
    void SetToggleCaption(const char* text) override { toggleCaption = text; }
    void EnableToggle() override {}
    void AppendLogLine(const char* before, const char* name, const char* after) override {
        lastLine = std::string(before) + name + after;
        Check(lastLine.c_str(), kMaxStatusLineLength);
        if (std::strcmp(after, kNotRepairedSuffix) == 0) {
            ++notRepaired;
        } else if (std::strcmp(after, kRepairedSuffix) == 0) {
            ++repaired;
        } else {
            ++otherLines;
        }
    }

private:
    void Check(const char* text, std::size_t limit) {
        if (std::strlen(text) > limit) {
            ++overlongTexts;
        }
    }
};

// Under AddressSanitizer every step costs several times as much, and freed
// memory is held back on purpose: long runs are shortened there and resident
// memory is not judged.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif

// A run size from the environment (`make soak` raises them), or the default.
inline long RunSize(const char* variable, long fallback) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    const long parsed = std::strtol(value, nullptr, 10);
    return parsed > 0 ? parsed : fallback;
}

// Runs body in a child process. body returns an empty text when all its checks
// held, else what went wrong; a child that dies is reported as such.
inline std::string RunCheckedInChild(const std::function<std::string()>& body) {
    int report[2];
    if (pipe(report) != 0) {
        return "no pipe";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        const std::string problems = body();
        (void)!write(report[1], problems.data(), problems.size());
        _exit(0);
    }
    close(report[1]);
    std::string problems;
    char buffer[4096];
    ssize_t n;
    while ((n = read(report[0], buffer, sizeof buffer)) > 0) {
        problems.append(buffer, static_cast<std::size_t>(n));
    }
    close(report[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        return "no child";
    }
    if (WIFSIGNALED(status)) {
        return problems + "child killed by " + strsignal(WTERMSIG(status));
    }
    return problems;
}

// Collects the checks of a child process as text.
class Checks {
public:
    template <typename A, typename B>
    void Equal(const A& actual, const B& expected, const char* what) {
        if (!(actual == expected)) {
            text_ += std::string(what) + " differs; ";
        }
    }
    void True(bool condition, const char* what) {
        if (!condition) {
            text_ += std::string(what) + " does not hold; ";
        }
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Counts the program's writes; everything else goes to the real layer.
class WriteCountingFiles final : public ForwardingFiles {
public:
    using ForwardingFiles::ForwardingFiles;
    int writes = 0;

    FileResult WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                          std::uint32_t* bytesWritten) override {
        ++writes;
        return ForwardingFiles::WriteBytes(file, bytes, count, bytesWritten);
    }
};
