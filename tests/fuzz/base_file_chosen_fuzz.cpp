// RepairController::OnBaseFileChosen with arbitrary folders and names (a
// path split anywhere), postfix fields and path limits, then a few ticks over an
// in-memory folder where every name exists, writes may fail or come up
// short, and message boxes run nested events. Every text the controller
// shows keeps its length limit, a refused choice changes nothing, and every
// name the file layer and the view get is the chosen base name with the
// postfix and the counter put in: nothing of the folder, so a '/' in it can
// only be the user's own, which the Linux layer refuses.
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "linux_file_checks.h"
#include "linux_repair_files.h"
#include "repair_controller.h"

namespace {

constexpr std::uint32_t kTemplateSize = 64;
constexpr FileHandle kTemplateHandle = 1;
constexpr FolderHandle kFolderHandle = 7;

// What the choice must give: every name of the series is baseName with
// postfix and the counter put in at one point.
struct Expected {
    std::string baseName;
    std::string postfix;
};

// Whether name is baseName split at one point, with postfix and the decimal
// counter between the two parts.
bool IsNameOfSeries(const char* name, const Expected& expected, std::uint16_t counter) {
    const std::string_view text(name);
    const std::string_view base(expected.baseName);
    const std::string inserted = expected.postfix + std::to_string(counter);
    if (text.size() != base.size() + inserted.size()) {
        return false;
    }
    // The split point lies within the part both start with, and leaves for
    // after the counter no more than the part both end with.
    std::size_t sameStart = 0;
    while (sameStart < base.size() && text[sameStart] == base[sameStart]) {
        ++sameStart;
    }
    std::size_t sameEnd = 0;
    while (sameEnd < base.size() &&
           text[text.size() - 1 - sameEnd] == base[base.size() - 1 - sameEnd]) {
        ++sameEnd;
    }
    for (std::size_t stem = base.size() - sameEnd; stem <= sameStart; ++stem) {
        if (text.substr(stem, inserted.size()) == inserted) {
            return true;
        }
    }
    return false;
}

struct Scenario {
    std::uint32_t maxPathLength = 259;
    bool filesExist = false;
    bool failWrites = false;
    bool shortWrites = false;
    bool noExclusivity = false;
    std::uint8_t nested = 0;  // what the user does while a message is open
};

class Folder final : public RepairFiles {
public:
    Folder(const Scenario& scenario, const Expected& expected)
        : scenario_(scenario), expected_(expected) {}
    const RepairController* controller = nullptr;

    FileHandle OpenForReading(const char* name) override {
        Require(std::strcmp(name, kTemplateFileName) == 0, "only the template is read");
        return kTemplateHandle;
    }
    // One folder at a time: the chosen one, held from Start to Stop.
    FolderHandle HoldFolder(const char* directory) override {
        Require(std::strcmp(directory, controller->BaseDirectory()) == 0,
                "always the chosen folder");
        Require(!folderHeld_, "one folder held at a time");
        folderHeld_ = true;
        return kFolderHandle;
    }
    void ReleaseFolder(FolderHandle folder) override {
        Require(folder == kFolderHandle && folderHeld_, "only the held folder is released");
        folderHeld_ = false;
    }
    FileHandle OpenForWriting(FolderHandle folder, const char* name, const char* baseName,
                              OpenFailure* failure) override {
        const std::size_t nameLength = std::strlen(name);
        const char* directory = controller->BaseDirectory();
        Require(folder == kFolderHandle && folderHeld_, "always the held folder");
        Require(std::strcmp(baseName, expected_.baseName.c_str()) == 0, "the chosen base name");
        Require(nameLength <= kMaxNameLength, "a follow-up name has at most 259 bytes");
        Require(std::strcmp(name, controller->FollowUpName()) == 0, "the current name");
        Require(IsNameOfSeries(name, expected_, controller->SequenceCounter()),
                "the file layer gets the base name with postfix and counter, nothing else");
        Require(std::strlen(directory) + nameLength <= scenario_.maxPathLength,
                "folder and name fit the platform's paths");
        *failure = OpenFailure::Unavailable;
        // The Linux layer's own rule: a name that could leave the folder is
        // never opened.
        if (!IsPlainFileName(name) || !scenario_.filesExist) {
            return kNoFile;
        }
        if (scenario_.noExclusivity) {
            *failure = OpenFailure::NoExclusivity;
            return kNoFile;
        }
        const std::string key(name);
        for (const auto& [handle, openName] : open_) {
            if (openName == key) {
                return kNoFile;  // held by the program itself
            }
        }
        *failure = OpenFailure::None;
        open_[nextHandle_] = key;
        return nextHandle_++;
    }
    std::uint32_t FileLength(FileHandle) override { return kTemplateSize; }
    FileResult ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                         std::uint32_t* bytesRead) override {
        Require(file == kTemplateHandle && count == kTemplateSize, "one read of the template");
        std::memset(buffer, 0x47, count);
        *bytesRead = count;
        return {};
    }
    FileResult WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                          std::uint32_t* bytesWritten) override {
        Require(open_.count(file) == 1, "writes go to an open follow-up file");
        Require(count == kTemplateSize, "the whole template in one write");
        const auto* head = static_cast<const unsigned char*>(bytes);
        Require(head[0] == 0x47 && head[count - 1] == 0x47, "the template's bytes");
        *bytesWritten = scenario_.shortWrites ? count - 1 : count;
        return {!scenario_.failWrites, scenario_.failWrites ? 5u : 0u};
    }
    FileResult Rewind(FileHandle) override {
        Require(false, "the window never reads what it repairs");
        return {false, 0};
    }
    FileResult FlushFile(FileHandle) override {
        Require(false, "the window leaves its writes to the system");
        return {false, 0};
    }
    void CloseFile(FileHandle file) override {
        if (file == kTemplateHandle) {
            ++templateCloses;
            return;
        }
        Require(open_.erase(file) == 1, "closes each follow-up file once");
    }
    std::uint32_t MaxPathLength() const override { return scenario_.maxPathLength; }

    bool AnyOpen() const { return !open_.empty(); }
    int templateCloses = 0;

private:
    const Scenario& scenario_;
    const Expected& expected_;
    std::map<FileHandle, std::string> open_;
    bool folderHeld_ = false;
    FileHandle nextHandle_ = 100;
};

class CheckingView final : public RepairView {
public:
    explicit CheckingView(const Expected& expected) : expected_(expected) {}
    std::string postfixField;
    RepairController* controller = nullptr;
    std::string folder;
    std::string name;
    std::uint8_t nested = 0;
    int depth = 0;
    int errors = 0;
    bool enabled = false;

    void ShowError(const char* text) override {
        ++errors;
        Require(std::strcmp(text, kWriteFailedMessage) == 0 ||
                    std::strcmp(text, kNameTooLongMessage) == 0 ||
                    std::strcmp(text, kInvalidBaseFileMessage) == 0,
                "one of the program's messages");
        if (depth > 0 || nested == 0) {
            return;
        }
        // The message box's own loop: ticks, Start/Stop, a new base file.
        ++depth;
        for (int bit = 0; bit < 8; ++bit) {
            switch ((nested >> bit) & 0x03) {
            case 1:
                controller->OnTick();
                break;
            case 2:
                if (enabled) {
                    controller->OnToggle();
                }
                break;
            case 3:
                controller->OnBaseFileChosen(folder.c_str(), name.c_str());
                break;
            default:
                break;
            }
        }
        --depth;
    }
    void CloseMainWindow() override { Require(false, "a loaded template never closes the window"); }
    void ReadPostfixField(char* buffer, std::size_t size) override {
        Require(size > kMaxPostfixLength, "room for a whole postfix");
        const std::size_t n = postfixField.size() < size - 1 ? postfixField.size() : size - 1;
        std::memcpy(buffer, postfixField.data(), n);
        buffer[n] = '\0';
    }
    void SetCurrentFileText(const char* text) override {
        Require(std::strlen(text) <= kMaxNameLength, "a shown name has at most 259 bytes");
        Require(text[0] != '\0', "every series has a name to show");
        Require(IsNameOfSeries(text, expected_, controller->SequenceCounter()),
                "the view shows the base name with postfix and counter, nothing else");
    }
    void SetToggleCaption(const char* text) override {
        Require(std::strcmp(text, kStartCaption) == 0 || std::strcmp(text, kStopCaption) == 0,
                "Start or Stop");
    }
    void EnableToggle() override { enabled = true; }
    void AppendLogLine(const char* before, const char* name, const char* after) override {
        Require(
            std::strlen(before) + std::strlen(name) + std::strlen(after) <= kMaxStatusLineLength,
            "a status line has at most 287 bytes");
        Require(std::strcmp(before, kStatusPrefix) == 0 ||
                    std::strcmp(before, kNoExclusivityPrefix) == 0,
                "one of the program's status lines");
        Require(std::strlen(name) <= kMaxNameLength, "a name has at most 259 bytes");
    }

private:
    const Expected& expected_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint16_t nameStart = input.Word();
    // A word that once gave the dialog's extension offset: read still, so
    // that the saved inputs keep their meaning.
    input.Word();
    const std::uint8_t flags = input.Byte();
    Scenario scenario;
    static constexpr std::uint32_t kPathLimits[] = {259, 4095, 40, 300};
    scenario.maxPathLength = kPathLimits[flags & 0x03];
    scenario.filesExist = (flags & 0x04) != 0;
    scenario.failWrites = (flags & 0x08) != 0;
    scenario.shortWrites = (flags & 0x10) != 0;
    scenario.noExclusivity = (flags & 0x20) != 0;
    scenario.nested = input.Byte();
    const std::string postfix = input.Bytes(input.Byte() % 24).c_str();
    const std::string path = input.Rest().c_str();
    const std::size_t split = nameStart < path.size() ? nameStart : path.size();
    const std::string folderPart = path.substr(0, split);
    const std::string namePart = path.substr(split);
    // The postfix field is read up to its 7 bytes.
    const Expected expected{namePart, postfix.substr(0, kMaxPostfixLength)};

    Folder folder(scenario, expected);
    CheckingView view(expected);
    RepairController controller(view, folder);
    folder.controller = &controller;
    view.controller = &controller;
    view.postfixField = postfix;
    view.folder = folderPart;
    view.name = namePart;
    view.nested = scenario.nested;

    Require(controller.OnStartup(), "the template loads");
    controller.OnBaseFileChosen(folderPart.c_str(), namePart.c_str());
    if (!view.enabled) {
        // Refused: the tool is as before.
        Require(view.errors >= 1, "a refused choice says why");
        Require(controller.FollowUpName()[0] == '\0' && controller.BaseDirectory()[0] == '\0',
                "a refused choice changes nothing");
        Require(controller.SequenceCounter() == 1 && !controller.IsRunning(), "still stopped");
    } else {
        Require(path.size() <= kMaxNameLength, "only paths of at most 259 bytes are taken");
        Require(!namePart.empty(), "only choices with a file name are taken");
        Require(folderPart == controller.BaseDirectory(), "the folder is the one chosen");
        Require(std::strlen(controller.CurrentPostfix()) <= kMaxPostfixLength,
                "a postfix has at most 7 bytes");
        Require(std::strlen(controller.FollowUpName()) <= kMaxNameLength,
                "a follow-up name has at most 259 bytes");
        // Up to counter 65535: base name, postfix and five digits.
        const std::size_t longestName =
            namePart.size() + std::strlen(controller.CurrentPostfix()) + 5;
        Require(longestName <= kMaxNameLength, "every name of the series fits in 259 bytes");
        Require(folderPart.size() + longestName <= scenario.maxPathLength,
                "every path of the series fits the platform's paths");
        controller.OnToggle();
        for (int tick = 0; tick < 4; ++tick) {
            controller.OnTick();
        }
        Require(!folder.AnyOpen(), "every follow-up file is closed after its tick");
    }
    controller.OnShutdown();
    Require(folder.templateCloses == 1, "the template is released once");
    return 0;
}
