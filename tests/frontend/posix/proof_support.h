// Helpers for the long-running and adversarial tests over the real Linux file
// layer: a view that keeps counts instead of every line, run sizes taken from
// the environment, and memory and descriptor readings of this process.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "repair_controller.h"
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
    void AppendLogLine(const char* text) override {
        Check(text, kStatusLineBufferSize - 1);
        lastLine = text;
        const std::size_t length = std::strlen(text);
        if (EndsWith(text, length, kNotRepairedSuffix)) {
            ++notRepaired;
        } else if (EndsWith(text, length, kRepairedSuffix)) {
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
    static bool EndsWith(const char* text, std::size_t length, const char* suffix) {
        const std::size_t suffixLength = std::strlen(suffix);
        return length >= suffixLength && std::strcmp(text + length - suffixLength, suffix) == 0;
    }
};

// A run size from the environment (`make soak` raises them), or the default.
inline long RunSize(const char* variable, long fallback) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    const long parsed = std::strtol(value, nullptr, 10);
    return parsed > 0 ? parsed : fallback;
}

// This process's resident memory in KiB, from /proc/self/statm.
inline long ResidentKiB() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
