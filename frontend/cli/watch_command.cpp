// velmora-cli watch: the headless service. Watches folders and repairs every
// follow-up file the moment it is not empty and no other program holds it,
// for any number of series at once. Driven by the folders' events; while a
// file waits on another program, it is tried again each retry period (a
// second on Linux, which tells of every close; 200 ms on Windows, which
// tells of none).
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli_command.h"
#include "cli_files.h"
#include "cli_repair_files.h"
#include "folder_events.h"
#include "follow_up_head.h"
#include "follow_up_name.h"
#include "header_template.h"
#include "reason_keeping_files.h"
#include "recording_header.h"
#include "repair_controller.h"
#include "repair_step.h"
#include "watch_book.h"

namespace {

constexpr char kUsage[] =
    "Aufruf: velmora-cli watch ORDNER... [--postfix P] [--header DATEI | --from-base]\n"
    "\n"
    "Beobachtet die Ordner als Dienst und stellt den Header jeder Folge-Datei\n"
    "wieder her (Film#1.mpg, Film#2.mpg, ... neben Film.mpg im selben Ordner),\n"
    "sobald sie nicht leer ist und kein anderes Programm sie offen hat, f\xC3\xBCr\n"
    "beliebig viele Aufnahmen zugleich. Dateien, die schon mit dem Header\n"
    "beginnen, bleiben unber\xC3\xBChrt. Eine Zeile je restaurierte Datei auf der\n"
    "Standardausgabe, erst wenn ihr Header auf dem Datentr\xC3\xA4ger ist; Fehler auf\n"
    "der Standardfehlerausgabe; bei mehr als einem Ordner steht der Ordner vorn.\n"
    "\n"
    "  --postfix P      Text zwischen Name und Nummer (Vorgabe: #, h\xC3\xB6"
    "chstens 7 Byte)\n"
    "  --header DATEI   der Header (Vorgabe: header.mpeg im aktuellen Ordner)\n"
    "  --from-base      statt einer Header-Datei: jede Aufnahme bekommt den Header\n"
    "                   ihrer eigenen Basis-Datei, wie ihn make-header macht (2048\n"
    "                   Byte), sobald eine ihrer Folge-Dateien zum ersten Mal\n"
    "                   ansteht; l\xC3\xA4sst sich keiner machen, wird das einmal\n"
    "                   gemeldet, und ihre Folge-Dateien bleiben unber\xC3\xBChrt, bis\n"
    "                   sich die Basis-Datei \xC3\xA4ndert\n"
    "\n"
    "SIGTERM und SIGINT beenden den Dienst, SIGHUP l\xC3\xA4\x64t den Header neu (geht\n"
    "das nicht, bleibt der bisherige); mit --from-base macht SIGHUP jeden Header\n"
    "neu aus seiner Basis-Datei, sobald er wieder gebraucht wird.\n"
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

// With --from-base, a series' template: made from its base file when one of
// its follow-up files is first looked at, and made again after the base
// file changed.
struct SeriesTemplate {
    FileStamp base;  // the base file as it was when the template was made
    std::unique_ptr<HeaderTemplate> made;
    // When none could be made: its follow-up files, left alone (parked)
    // until the base file changes.
    std::vector<std::string> leftAlone;
};

// By base name, in one folder.
using FolderSeries = std::unordered_map<std::string, SeriesTemplate>;

// Templates kept at most (2 KiB each); beyond, the made ones are forgotten
// and made again from their base files when next needed.
constexpr std::size_t kMaxKeptTemplates = 1024;

struct WatchedFolder {
    std::string directory;   // absolute, with its trailing separator
    std::string linePrefix;  // "/path/to/folder: " when more than one folder is watched
    FolderHandle held = kNoFolder;
    bool present = true;
};

struct Service {
    explicit Service(int folderCount) : book(folderCount, kWaitingFileRetryMs) {}

    CliRepairFiles systemFiles;
    ReasonKeepingFiles files{systemFiles};
    HeaderTemplate headerTemplate;
    std::string headerPath;
    bool fromBase = false;
    std::vector<FolderSeries> series;  // by folder number, with --from-base
    std::size_t madeTemplates = 0;
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
    Print(stream, "%s%s\n", folder.linePrefix.c_str(), text.c_str());
    std::fflush(stream);  // journald reads line by line
}

void PrintMessage(std::FILE* stream, const std::string& text) {
    Print(stream, "%s\n", text.c_str());
    std::fflush(stream);
}

std::string Quoted(const char* before, const std::string& name, const char* after) {
    return before + NameAsText(name) + after;
}

// A follow-up file: a follow-up name whose base file is in the same folder.
bool IsFollowUpFile(const Service& service, const WatchedFolder& folder, const std::string& name,
                    std::string* baseName) {
    char base[kNameBufferSize];
    std::uint16_t counter = 0;
    if (!ParseFollowUpName(name.c_str(), service.postfix.c_str(), base, sizeof base, &counter)) {
        return false;
    }
    *baseName = base;
    return IsRegularFile((folder.directory + *baseName).c_str());
}

void ForgetSeries(Service& service, int number, FolderSeries::iterator series) {
    for (const std::string& followUp : series->second.leftAlone) {
        service.book.MakeDueAgain(number, followUp);
    }
    service.madeTemplates -= series->second.made != nullptr;
    service.series[static_cast<std::size_t>(number)].erase(series);
}

// A file with news may be a base file. When it changed, its series'
// template, or the reason there is none, no longer holds. (Its news may be
// none of a change: the first scan, a close without a write.)
void ForgetSeriesOfBase(Service& service, int number, const std::string& name) {
    FolderSeries& folderSeries = service.series[static_cast<std::size_t>(number)];
    const auto found = folderSeries.find(name);
    if (found == folderSeries.end()) {
        return;
    }
    const WatchedFolder& folder = service.folders[static_cast<std::size_t>(number)];
    FileStamp now;
    if (!StampFile((folder.directory + name).c_str(), &now) || !(now == found->second.base)) {
        ForgetSeries(service, number, found);
    }
}

void ForgetMadeTemplates(Service& service) {
    for (FolderSeries& folderSeries : service.series) {
        std::erase_if(folderSeries, [](const auto& entry) { return entry.second.made != nullptr; });
    }
    service.madeTemplates = 0;
}

FolderSeries::iterator MakeSeriesTemplateOf(Service& service, int number,
                                            const std::string& baseName) {
    if (service.madeTemplates >= kMaxKeptTemplates) {
        ForgetMadeTemplates(service);
    }
    const WatchedFolder& folder = service.folders[static_cast<std::size_t>(number)];
    const std::string basePath = folder.directory + baseName;
    SeriesTemplate series;
    std::string reason;
    // Stamped before it is read: a change while it is read is a later stamp.
    StampFile(basePath.c_str(), &series.base);
    auto headerTemplate = std::make_unique<HeaderTemplate>();
    if (MakeSeriesTemplate(basePath, headerTemplate.get(), &reason)) {
        series.made = std::move(headerTemplate);
        ++service.madeTemplates;
    } else {
        PrintLine(stderr, folder,
                  "Kein Header aus der Basis-Datei: " + reason +
                      ". Ihre Folge-Dateien bleiben unber\xC3\xBChrt, bis sich die Basis-Datei "
                      "\xC3\xA4ndert.");
    }
    return service.series[static_cast<std::size_t>(number)]
        .emplace(baseName, std::move(series))
        .first;
}

// The template for a follow-up file: the one given, or with --from-base its
// series' own; nullptr when its base file gives none (the file is then left
// alone until the base file changes).
const HeaderTemplate* TemplateFor(Service& service, int number, const std::string& baseName,
                                  const std::string& name) {
    if (!service.fromBase) {
        return &service.headerTemplate;
    }
    FolderSeries& folderSeries = service.series[static_cast<std::size_t>(number)];
    auto found = folderSeries.find(baseName);
    if (found == folderSeries.end()) {
        found = MakeSeriesTemplateOf(service, number, baseName);
    }
    SeriesTemplate& series = found->second;
    if (series.made != nullptr) {
        return series.made.get();
    }
    if (std::find(series.leftAlone.begin(), series.leftAlone.end(), name) ==
        series.leftAlone.end()) {
        series.leftAlone.push_back(name);
    }
    return nullptr;
}

struct Attempt {
    AttemptOutcome outcome;
    bool wroteFile;  // opened for writing: its close is one of the next events
};

Attempt LookAndRepair(Service& service, int number, const std::string& name) {
    const WatchedFolder& folder = service.folders[static_cast<std::size_t>(number)];
    if (service.fromBase) {
        ForgetSeriesOfBase(service, number, name);
    }
    std::string baseName;
    if (!IsFollowUpFile(service, folder, name, &baseName)) {
        return {AttemptOutcome::Finished, false};
    }
    const HeaderTemplate* headerTemplate = TemplateFor(service, number, baseName, name);
    if (headerTemplate == nullptr) {
        return {AttemptOutcome::Parked, false};
    }
    switch (LookAtHead(folder.directory + name, *headerTemplate)) {
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
    // Its line is printed only once its head is on the disk.
    switch (RepairFollowUpFile(service.files, *headerTemplate, folder.held, name.c_str(),
                               baseName.c_str(), Durability::FlushedBeforeReturn)) {
    case RepairResult::Repaired:
        PrintLine(stdout, folder, Quoted(kStatusPrefix, name, kRepairedSuffix));
        return {AttemptOutcome::Finished, true};
    case RepairResult::Unavailable:
    case RepairResult::TooShort:
        return {AttemptOutcome::Waiting, false};  // held by another program, or read-only
    case RepairResult::FolderGone:
        return {AttemptOutcome::Waiting, false};
    case RepairResult::NoExclusivity:
        PrintLine(stderr, folder, Quoted(kNoExclusivityPrefix, name, kNoExclusivitySuffix));
        return {AttemptOutcome::Parked, false};
    case RepairResult::OtherOwner:
        PrintLine(stderr, folder,
                  Quoted(FromWindows1252(kOtherOwnerPrefix).c_str(), name, kNoExclusivitySuffix));
        return {AttemptOutcome::Parked, false};
    case RepairResult::WriteFailed:
        PrintLine(stderr, folder,
                  std::string(kWriteFailedMessage) + " \"" + NameAsText(name) +
                      "\": " + service.files.lastFailure);
        return {AttemptOutcome::Parked, true};
    case RepairResult::FlushFailed:
        PrintLine(
            stderr, folder,
            "Header von \"" + NameAsText(name) +
                "\" nicht auf den Datentr\xC3\xA4ger geschrieben: " + service.files.lastFailure);
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
    PrintMessage(stderr, "Ordner nicht mehr da: " + NameAsText(folder.directory));
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
            PrintMessage(stderr,
                         "Ordner nicht lesbar: " + NameAsText(service.folders[number].directory) +
                             " (" + error + ")");
        }
    }
}

// With --from-base: every series' template is made again when next needed,
// and the files left alone for want of one are looked at again.
void ForgetAllSeries(Service& service) {
    for (std::size_t number = 0; number < service.series.size(); ++number) {
        FolderSeries& folderSeries = service.series[number];
        while (!folderSeries.empty()) {
            ForgetSeries(service, static_cast<int>(number), folderSeries.begin());
        }
    }
    PrintMessage(stdout, "Header werden neu aus den Basis-Dateien gemacht.");
}

void ReloadTemplate(Service& service) {
    if (service.fromBase) {
        ForgetAllSeries(service);
        return;
    }
    // The template file is held open and locked; it has to be let go before
    // it can be opened again.
    HeaderTemplate previous = service.headerTemplate;
    ReleaseHeaderTemplate(service.headerTemplate, service.files);
    const TemplateLoadResult loaded =
        LoadHeaderTemplateFrom(service.headerTemplate, service.files, service.headerPath.c_str());
    if (loaded == TemplateLoadResult::Loaded) {
        PrintMessage(stdout, "Header neu geladen: " + NameAsText(service.headerPath) + " (" +
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
        const Attempt attempt = LookAndRepair(service, number, name);
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
    Print(stderr, "velmora-cli watch: %s\n", message.c_str());
    return kExitUsage;
}

// The folders, absolute and with their trailing '/', each watched.
bool WatchFolders(Service& service, const std::vector<std::string>& arguments,
                  std::string* problem) {
    const bool several = arguments.size() > 1;
    for (const std::string& argument : arguments) {
        WatchedFolder folder;
        if (!AbsolutePath(argument.c_str(), &folder.directory)) {
            *problem = "Ordner nicht gefunden: " + NameAsText(argument);
            return false;
        }
        if (folder.directory.back() != kPathSeparator) {
            folder.directory += kPathSeparator;
        }
        if (folder.directory.size() + kRoomForNames > service.files.MaxPathLength()) {
            *problem = "Pfad des Ordners zu lang: " + NameAsText(argument);
            return false;
        }
        if (several) {
            folder.linePrefix =
                NameAsText(folder.directory.substr(0, folder.directory.size() - 1)) + ": ";
        }
        std::string error;
        const int number = static_cast<int>(service.folders.size());
        if (!service.events.Watch(number, folder.directory.c_str(), &error)) {
            *problem = "Ordner nicht beobachtbar: " + NameAsText(argument) + " (" + error + ")";
            return false;
        }
        folder.held = service.files.HoldFolder(folder.directory.c_str());
        if (folder.held == kNoFolder) {
            *problem = "Ordner nicht beobachtbar: " + NameAsText(argument);
            return false;
        }
        service.folders.push_back(folder);
        ++service.foldersPresent;
    }
    return true;
}

int RunWatch(const CliArguments& arguments) {
    if (arguments.positional.empty()) {
        Print(stderr, "%s", kUsage);
        return kExitUsage;
    }
#ifdef LC_MESSAGES
    std::setlocale(LC_MESSAGES, "");  // the system's reasons in the system's language
#endif
    if (arguments.Has("--header") && arguments.Has("--from-base")) {
        return UsageError(
            "--header und --from-base schlie\xC3\x9F"
            "en einander aus");
    }
    Service service(static_cast<int>(arguments.positional.size()));
    service.fromBase = arguments.Has("--from-base");
    service.series.resize(arguments.positional.size());
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
    if (!service.fromBase) {
        // Absolute, so that a reload finds the same file.
        if (!AbsolutePath(arguments.Value("--header", kTemplateFileName).c_str(),
                          &service.headerPath)) {
            return UsageError(FromWindows1252(TemplateLoadMessage(TemplateLoadResult::NotFound)));
        }
        const TemplateLoadResult loaded = LoadHeaderTemplateFrom(
            service.headerTemplate, service.files, service.headerPath.c_str());
        if (loaded != TemplateLoadResult::Loaded) {
            ReleaseHeaderTemplate(service.headerTemplate, service.files);
            return UsageError(FromWindows1252(TemplateLoadMessage(loaded)));
        }
    }
    // Watched before the first scan, so nothing that happens meanwhile is missed.
    for (std::size_t number = 0; number < service.folders.size(); ++number) {
        if (!ScanFolder(service, static_cast<int>(number), &error)) {
            ReleaseHeaderTemplate(service.headerTemplate, service.files);
            return UsageError("Ordner nicht lesbar: " + NameAsText(arguments.positional[number]) +
                              " (" + error + ")");
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
    "watch",
    "beobachtet Ordner als Dienst und stellt jede fertige Folge-Datei wieder her",
    kUsage,
    {{"--postfix", "-p", true}, {"--header", nullptr, true}, {"--from-base", nullptr, false}},
    RunWatch,
};
