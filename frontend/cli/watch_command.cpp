// velmora-cli watch: the headless service. Watches folders and repairs every
// follow-up file the moment it is not empty and no other program holds it,
// for any number of series at once. Driven by the folders' events; while a
// file waits on another program, it is tried again each retry period (a
// second on Linux, which tells of every close; 200 ms on Windows, which
// tells of none).
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_command.h"
#include "cli_files.h"
#include "cli_repair_files.h"
#include "folder_events.h"
#include "follow_up_head.h"
#include "follow_up_name.h"
#include "header_template.h"
#include "repair_controller.h"
#include "repair_step.h"
#include "watch_book.h"

namespace {

constexpr char kUsage[] =
    "Aufruf: velmora-cli watch ORDNER... [--postfix P] [--header DATEI]\n"
    "\n"
    "Beobachtet die Ordner als Dienst und stellt den Header jeder Folge-Datei\n"
    "wieder her (Film#1.mpg, Film#2.mpg, ... neben Film.mpg im selben Ordner),\n"
    "sobald sie nicht leer ist und kein anderes Programm sie offen hat, f\xC3\xBCr\n"
    "beliebig viele Aufnahmen zugleich. Dateien, die schon mit dem Header\n"
    "beginnen, bleiben unber\xC3\xBChrt. Eine Zeile je restaurierte Datei auf der\n"
    "Standardausgabe, Fehler auf der Standardfehlerausgabe; bei mehr als einem\n"
    "Ordner steht der Ordner vorn.\n"
    "\n"
    "  --postfix P      Text zwischen Name und Nummer (Vorgabe: #, h\xC3\xB6"
    "chstens 7 Byte)\n"
    "  --header DATEI   der Header (Vorgabe: header.mpeg im aktuellen Ordner)\n"
    "\n"
    "SIGTERM und SIGINT beenden den Dienst, SIGHUP l\xC3\xA4\x64t den Header neu (geht\n"
    "das nicht, bleibt der bisherige).\n"
    "\n"
    "Exit-Codes: 0 beendet durch SIGTERM oder SIGINT; 1 keiner der Ordner ist\n"
    "mehr da; 2 falscher Aufruf, Ordner oder Header nicht lesbar.\n";

// Every name a folder can hold must fit the longest path the file layer
// opens. Windows limits the whole path (MAX_PATH), so there a folder need
// only leave room for a name; a longer one cannot be opened at all.
#ifdef _WIN32
constexpr std::size_t kRoomForNames = 1;
#else
constexpr std::size_t kRoomForNames = kMaxNameLength;
#endif

// Checks between looks at files for a stop or reload, so that neither waits
// for a long scan.
constexpr int kAttemptsBetweenSignalChecks = 64;

// The platform's file layer, keeping the system's reason when a write
// fails so that the message can name it.
class ReasonKeepingFiles final : public ForwardingFiles {
public:
    using ForwardingFiles::ForwardingFiles;

    bool WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                    std::uint32_t* bytesWritten) override {
        const bool written = ForwardingFiles::WriteBytes(file, bytes, count, bytesWritten);
        if (!written) {
            lastWriteFailure = LastSystemErrorText();
        } else if (*bytesWritten != count) {
            lastWriteFailure = "nur " + std::to_string(*bytesWritten) + " von " +
                               std::to_string(count) + " Byte geschrieben";
        }
        return written;
    }

    std::string lastWriteFailure;
};

struct WatchedFolder {
    std::string directory;   // absolute, with its trailing separator
    std::string linePrefix;  // "/path/to/folder: " when more than one folder is watched
    bool present = true;
};

struct Service {
    explicit Service(int folderCount) : book(folderCount, kWaitingFileRetryMs) {}

    CliRepairFiles systemFiles;
    ReasonKeepingFiles files{systemFiles};
    HeaderTemplate headerTemplate;
    std::string headerPath;
    std::string postfix;
    std::vector<WatchedFolder> folders;
    int foldersPresent = 0;
    FolderEvents events;
    WatchBook book;
    bool rescanAll = false;
    bool stop = false;
    int exitCode = kExitOk;
};

void PrintLine(std::FILE* stream, const WatchedFolder& folder, const std::string& text) {
    std::fprintf(stream, "%s%s\n", folder.linePrefix.c_str(), text.c_str());
    std::fflush(stream);  // journald reads line by line
}

void PrintMessage(std::FILE* stream, const std::string& text) {
    std::fprintf(stream, "%s\n", text.c_str());
    std::fflush(stream);
}

std::string Quoted(const char* before, const std::string& name, const char* after) {
    return before + name + after;
}

// A follow-up file: a follow-up name whose base file is in the same folder.
bool IsFollowUpFile(const Service& service, const WatchedFolder& folder, const std::string& name) {
    char baseName[kNameBufferSize];
    std::uint16_t counter = 0;
    return ParseFollowUpName(name.c_str(), service.postfix.c_str(), baseName, sizeof baseName,
                             &counter) &&
           IsRegularFile((folder.directory + baseName).c_str());
}

struct Attempt {
    AttemptOutcome outcome;
    bool wroteFile;  // opened for writing: its close is one of the next events
};

Attempt LookAndRepair(Service& service, const WatchedFolder& folder, const std::string& name) {
    if (!IsFollowUpFile(service, folder, name)) {
        return {AttemptOutcome::Finished, false};
    }
    switch (LookAtHead(folder.directory + name, service.headerTemplate)) {
    case FollowUpHead::Missing:
    case FollowUpHead::NotAFile:  // a link, a FIFO or a device is never written
    case FollowUpHead::AlreadyRepaired:
        return {AttemptOutcome::Finished, false};
    case FollowUpHead::Empty:
        return {AttemptOutcome::Waiting, false};  // nothing recorded yet
    case FollowUpHead::Busy:
        return {AttemptOutcome::Waiting, false};  // held with no reading allowed
    case FollowUpHead::Unreadable:
        PrintLine(stderr, folder,
                  Quoted(kStatusPrefix, name, "\" nicht restauriert! (nicht lesbar)"));
        return {AttemptOutcome::Parked, false};
    case FollowUpHead::NeedsRepair:
        break;
    }
    switch (RepairFollowUpFile(service.files, service.headerTemplate, folder.directory.c_str(),
                               name.c_str())) {
    case RepairResult::Repaired:
        PrintLine(stdout, folder, Quoted(kStatusPrefix, name, kRepairedSuffix));
        return {AttemptOutcome::Finished, true};
    case RepairResult::Unavailable:
        return {AttemptOutcome::Waiting, false};  // held by another program, or read-only
    case RepairResult::NoExclusivity:
        PrintLine(stderr, folder, Quoted(kNoExclusivityPrefix, name, kNoExclusivitySuffix));
        return {AttemptOutcome::Parked, false};
    case RepairResult::WriteFailed:
        PrintLine(stderr, folder,
                  std::string(kWriteFailedMessage) + " \"" + name +
                      "\": " + service.files.lastWriteFailure);
        return {AttemptOutcome::Parked, true};
    }
    return {AttemptOutcome::Parked, false};
}

FileNews NewsOf(FolderEventKind kind) {
    switch (kind) {
    case FolderEventKind::Arrived:
        return FileNews::Arrived;
    case FolderEventKind::WriterClosed:
        return FileNews::WriterClosed;
    case FolderEventKind::ReaderClosed:
        return FileNews::ReaderClosed;
    case FolderEventKind::AttributesChanged:
        return FileNews::AttributesChanged;
    case FolderEventKind::Written:
        return FileNews::Written;
    default:
        return FileNews::Left;
    }
}

void OnFolderGone(Service& service, int number) {
    WatchedFolder& folder = service.folders[static_cast<std::size_t>(number)];
    if (!folder.present) {
        return;  // the kernel tells it more than once
    }
    folder.present = false;
    --service.foldersPresent;
    service.events.Unwatch(number);
    service.book.ForgetFolder(number);
    PrintMessage(stderr, "Ordner nicht mehr da: " + folder.directory);
    if (service.foldersPresent == 0) {
        PrintMessage(stderr, "Kein Ordner mehr zu beobachten, Ende.");
        service.stop = true;
        service.exitCode = kExitFailed;
    }
}

void OnFolderEvent(Service& service, const FolderEvent& event) {
    switch (event.kind) {
    case FolderEventKind::Overflow:
        service.rescanAll = true;
        return;
    case FolderEventKind::FolderGone:
        OnFolderGone(service, event.folder);
        return;
    default:
        service.book.OnFileNews(event.folder, event.name, NewsOf(event.kind));
    }
}

void ReadFolderEvents(Service& service) {
    service.events.ReadEvents(
        [&service](const FolderEvent& event) { OnFolderEvent(service, event); });
}

// Every name in the folder is looked at: at start, and after the kernel
// dropped events.
bool ScanFolder(Service& service, int number, std::string* error) {
    const WatchedFolder& folder = service.folders[static_cast<std::size_t>(number)];
    return ListFolderFiles(
        folder.directory.c_str(),
        [&service, number](const char* name) {
            service.book.OnFileNews(number, name, FileNews::Arrived);
        },
        error);
}

void RescanAll(Service& service) {
    service.rescanAll = false;
    PrintMessage(stderr, "Zu viele Ereignisse auf einmal: alle Ordner werden neu durchgesehen.");
    for (std::size_t number = 0; number < service.folders.size(); ++number) {
        std::string error;
        if (service.folders[number].present &&
            !ScanFolder(service, static_cast<int>(number), &error)) {
            PrintMessage(stderr, "Ordner nicht lesbar: " + service.folders[number].directory +
                                     " (" + error + ")");
        }
    }
}

void ReloadTemplate(Service& service) {
    // The template file is held open and locked; it has to be let go before
    // it can be opened again.
    HeaderTemplate previous = service.headerTemplate;
    ReleaseHeaderTemplate(service.headerTemplate, service.files);
    const TemplateLoadResult loaded =
        LoadHeaderTemplateFrom(service.headerTemplate, service.files, service.headerPath.c_str());
    if (loaded == TemplateLoadResult::Loaded) {
        PrintMessage(stdout, "Header neu geladen: " + service.headerPath + " (" +
                                 std::to_string(service.headerTemplate.length) + " Byte)");
        return;
    }
    ReleaseHeaderTemplate(service.headerTemplate, service.files);
    service.headerTemplate = previous;
    service.headerTemplate.file = kNoFile;
    PrintMessage(stderr,
                 "Header nicht neu geladen: " + FromWindows1252(TemplateLoadMessage(loaded)) +
                     " Der bisherige bleibt in Gebrauch.");
}

void HandleSignals(Service& service) {
    for (;;) {
        switch (service.events.TakeSignal()) {
        case ServiceSignal::None:
            return;
        case ServiceSignal::Stop:
            service.stop = true;
            service.exitCode = kExitOk;
            break;
        case ServiceSignal::Reload:
            ReloadTemplate(service);
            break;
        }
    }
}

// Looks at every due file. The events read right after each look are taken
// with its own echoes (the closes of its reads and writes) set aside.
void ProcessDueFiles(Service& service) {
    int number = -1;
    std::string name;
    for (int attempts = 1; !service.stop && service.book.TakeDue(&number, &name); ++attempts) {
        const Attempt attempt =
            LookAndRepair(service, service.folders[static_cast<std::size_t>(number)], name);
        service.book.RecordAttempt(number, name, attempt.outcome, attempt.wroteFile,
                                   MonotonicMilliseconds());
        ReadFolderEvents(service);
        service.book.EndOfEchoes();
        if (attempts % kAttemptsBetweenSignalChecks == 0) {
            HandleSignals(service);
        }
        if (service.rescanAll) {
            RescanAll(service);
        }
    }
}

int ServeUntilStopped(Service& service) {
    for (;;) {
        ProcessDueFiles(service);
        if (service.stop) {
            return service.exitCode;
        }
        // No time limit at all while nothing waits.
        service.events.WaitForNews(service.book.MillisecondsToRetry(MonotonicMilliseconds()));
        HandleSignals(service);
        ReadFolderEvents(service);
        service.book.StartRetryRoundIfDue(MonotonicMilliseconds());
        if (service.rescanAll) {
            RescanAll(service);
        }
    }
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "velmora-cli watch: %s\n", message.c_str());
    return kExitUsage;
}

// The folders, absolute and with their trailing '/', each watched.
bool WatchFolders(Service& service, const std::vector<std::string>& arguments,
                  std::string* problem) {
    const bool several = arguments.size() > 1;
    for (const std::string& argument : arguments) {
        WatchedFolder folder;
        if (!AbsolutePath(argument.c_str(), &folder.directory)) {
            *problem = "Ordner nicht gefunden: " + argument;
            return false;
        }
        if (folder.directory.back() != kPathSeparator) {
            folder.directory += kPathSeparator;
        }
        if (folder.directory.size() + kRoomForNames > service.files.MaxPathLength()) {
            *problem = "Pfad des Ordners zu lang: " + argument;
            return false;
        }
        if (several) {
            folder.linePrefix = folder.directory.substr(0, folder.directory.size() - 1) + ": ";
        }
        std::string error;
        const int number = static_cast<int>(service.folders.size());
        if (!service.events.Watch(number, folder.directory.c_str(), &error)) {
            *problem = "Ordner nicht beobachtbar: " + argument + " (" + error + ")";
            return false;
        }
        service.folders.push_back(folder);
        ++service.foldersPresent;
    }
    return true;
}

int RunWatch(const CliArguments& arguments) {
    if (arguments.positional.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
#ifdef LC_MESSAGES
    std::setlocale(LC_MESSAGES, "");  // the system's reasons in the system's language
#endif
    Service service(static_cast<int>(arguments.positional.size()));
    service.postfix = arguments.Value("--postfix", "#");
    if (service.postfix.size() > kMaxPostfixLength) {
        return UsageError("der Postfix ist l\xC3\xA4nger als 7 Byte");
    }
    std::string error;
    if (!service.events.Open(&error)) {
        return UsageError("keine Ereignisse der Ordner: " + error);
    }
    if (!WatchFolders(service, arguments.positional, &error)) {
        return UsageError(error);
    }
    // Absolute, so that a reload finds the same file.
    if (!AbsolutePath(arguments.Value("--header", kTemplateFileName).c_str(),
                      &service.headerPath)) {
        return UsageError(FromWindows1252(TemplateLoadMessage(TemplateLoadResult::NotFound)));
    }
    const TemplateLoadResult loaded =
        LoadHeaderTemplateFrom(service.headerTemplate, service.files, service.headerPath.c_str());
    if (loaded != TemplateLoadResult::Loaded) {
        ReleaseHeaderTemplate(service.headerTemplate, service.files);
        return UsageError(FromWindows1252(TemplateLoadMessage(loaded)));
    }
    // Watched before the first scan, so nothing that happens meanwhile is missed.
    for (std::size_t number = 0; number < service.folders.size(); ++number) {
        if (!ScanFolder(service, static_cast<int>(number), &error)) {
            ReleaseHeaderTemplate(service.headerTemplate, service.files);
            return UsageError("Ordner nicht lesbar: " + arguments.positional[number] + " (" +
                              error + ")");
        }
    }
    ProcessDueFiles(service);
    PrintMessage(stdout, "Beobachte " + std::to_string(service.folders.size()) + " Ordner.");
    const int exitCode = ServeUntilStopped(service);
    ReleaseHeaderTemplate(service.headerTemplate, service.files);
    return exitCode;
}

}  // namespace

const CliCommand kWatchCommand{
    "watch",  "beobachtet Ordner als Dienst und stellt jede fertige Folge-Datei wieder her",
    kUsage,   {{"--postfix", "-p", true}, {"--header", nullptr, true}},
    RunWatch,
};
