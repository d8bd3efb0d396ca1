// A view for the engine's tests that records what the controller shows, and
// can run nested events from inside ShowError as a real message box does.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "repair_view.h"

class RecordingView : public RepairView {
public:
    std::vector<std::string> errors;
    std::vector<std::string> logLines;
    std::string currentFile;
    std::string toggleCaption = "Start";
    bool toggleEnabled = false;
    int closeRequests = 0;
    std::string postfixField = "#";
    // Runs inside ShowError, once per message, before it returns.
    std::function<void()> whileMessageOpen;

    void ShowError(const char* text) override {
        errors.emplace_back(text);
        if (whileMessageOpen) {
            auto nested = std::move(whileMessageOpen);
            whileMessageOpen = nullptr;
            nested();
        }
    }
    void CloseMainWindow() override { ++closeRequests; }
    void ReadPostfixField(char* buffer, std::size_t size) override {
        const std::size_t n = postfixField.size() < size - 1 ? postfixField.size() : size - 1;
        postfixField.copy(buffer, n);
        buffer[n] = '\0';
    }
    void SetCurrentFileText(const char* text) override { currentFile = text; }
    void SetToggleCaption(const char* text) override { toggleCaption = text; }
    void EnableToggle() override { toggleEnabled = true; }
    void AppendLogLine(const char* before, const char* name, const char* after) override {
        logLines.push_back(std::string(before) + name + after);
    }
};
