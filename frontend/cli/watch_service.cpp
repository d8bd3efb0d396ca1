#include "watch_service.h"

#include "cli_command.h"
#include "file_reads.h"
#include "follow_up_name.h"
#include "paths.h"
#include "system_text.h"

namespace {

// Looks at files between checks for a stop or a reload, so that neither
// waits for a long scan.
constexpr int kAttemptsBetweenSignalChecks = 64;

}  // namespace

WatchService::WatchService(const WatchSettings& settings)
    : settings_(settings),
      output_(1, 2),
      book_(static_cast<int>(settings.folders.size()), kWaitingFileRetryMs,
            [this](int folder, const std::string& name, FileStamp* stamp) {
                const WatchedFolder& watched = folders_[static_cast<std::size_t>(folder)];
                return watched.present &&
                       StampFileIn(watched.held.handle, watched.held.path, name.c_str(), stamp);
            }),
      series_(static_cast<int>(settings.folders.size())) {}

WatchService::~WatchService() {
    for (const WatchedFolder& folder : folders_) {
        if (folder.present) {
            files_.ReleaseFolder(folder.held.handle);
        }
    }
}

bool WatchService::Start(std::string* problem) {
    std::string error;
    if (!events_.Open(&error, settings_.subfolders)) {
        *problem = "keine Ereignisse der Ordner: " + error;
        return false;
    }
    if (!WatchFolders(problem) || (!settings_.fromBase && !LoadTemplate(problem))) {
        return false;
    }
    if (!output_.Start([this] { events_.Wake(); }, &error)) {
        *problem = "keine Ausgabe: " + error;
        return false;
    }
    return true;
}

// The folders, absolute and with their trailing separator, each held and
// watched: watched before the first scan, so nothing that happens meanwhile
// is missed.
bool WatchService::WatchFolders(std::string* problem) {
    for (const std::string& argument : settings_.folders) {
        WatchedFolder folder;
        std::string& path = folder.held.path;
        if (!AbsolutePath(argument.c_str(), &path)) {
            *problem = "Ordner nicht gefunden: " + NameAsText(argument);
            return false;
        }
        if (path.back() != kPathSeparator) {
            path += kPathSeparator;
        }
        if (!FolderPathFits(path)) {
            *problem = "Pfad des Ordners zu lang: " + NameAsText(argument);
            return false;
        }
        std::string error;
        const int number = static_cast<int>(folders_.size());
        if (!events_.Watch(number, path.c_str(), &error)) {
            *problem = "Ordner nicht beobachtbar: " + NameAsText(argument) + " (" + error + ")";
            return false;
        }
        folder.held.handle = files_.HoldFolder(path.c_str());
        if (folder.held.handle == kNoFolder) {
            *problem = "Ordner nicht beobachtbar: " + NameAsText(argument);
            return false;
        }
        folder.root = number;
        folder.present = true;
        folderByPath_.emplace(path, number);
        folders_.push_back(folder);
        ++givenPresent_;
    }
    return true;
}

bool WatchService::LoadTemplate(std::string* problem) {
    const TemplateLoadResult loaded =
        LoadHeaderTemplateFrom(headerTemplate_, files_, settings_.headerPath.c_str());
    if (loaded != TemplateLoadResult::Loaded) {
        headerTemplate_.ReleaseFile();
        *problem = FromWindows1252(TemplateLoadMessage(loaded));
        return false;
    }
    return true;
}

int WatchService::Run() {
    for (std::size_t folder = 0; folder < folders_.size() && !stop_; ++folder) {
        std::string error;
        if (!ScanFolder(static_cast<int>(folder), &subfoldersToWatch_, &error)) {
            Message(OutputStream::Err,
                    "Ordner nicht lesbar: " + NameAsText(settings_.folders[folder]) + " (" + error +
                        ")");
            output_.Finish(kOutputFinishMs);
            return kExitUsage;
        }
    }
    WatchNewSubfolders();
    TellLeftOut();
    ProcessDueFiles();
    HandleSignals();  // a stop during the first scan: it never was ready
    if (!stop_) {
        Message(OutputStream::Out,
                "Beobachte " + std::to_string(folderByPath_.size()) + " Ordner.");
    }
    while (!stop_) {
        // No time limit at all while nothing waits.
        events_.WaitForEvents(book_.MillisecondsToRetry(MonotonicMilliseconds()));
        HandleSignals();
        ReadEvents();
        WatchNewSubfolders();
        book_.StartRetryRoundIfDue(MonotonicMilliseconds());
        if (rescanAll_) {
            RescanAll();
        }
        ProcessDueFiles();
        TellLeftOut();
    }
    // What was said gets out, unless nobody reads it: the end never waits long.
    output_.Finish(kOutputFinishMs);
    return exitCode_;
}

// Looks at every due file. The events read right after each look are taken
// with its own readers' closes set aside.
void WatchService::ProcessDueFiles() {
    int folder = -1;
    std::string name;
    for (int attempts = 1; !stop_ && book_.TakeDue(&folder, &name); ++attempts) {
        const Attempt attempt = LookAndRepair(folder, name);
        book_.RecordAttempt(folder, name, attempt.outcome, attempt.wroteFile,
                            MonotonicMilliseconds());
        ReadEvents();
        book_.EndOfOwnEvents();
        WatchNewSubfolders();
        if (attempts % kAttemptsBetweenSignalChecks == 0) {
            HandleSignals();
        }
        if (rescanAll_) {
            RescanAll();
        }
    }
}

void WatchService::OnFolderEvent(const FolderEvent& event) {
    switch (event.kind) {
    case FolderEventKind::Overflow:
        rescanAll_ = true;
        return;
    case FolderEventKind::FolderGone:
        OnFolderGone(event.folder);
        return;
    case FolderEventKind::SubfolderArrived:
        // Watched once the events at hand are handled: its scan reads
        // events of its own.
        if (settings_.subfolders) {
            subfoldersToWatch_.emplace_back(event.folder, event.name);
        }
        return;
    case FolderEventKind::SubfolderLeft:
        OnSubfolderLeft(event.folder, event.name);
        return;
    case FolderEventKind::Left: {
        std::string baseName;
        if (!ParseFollowUp(event.name, &baseName)) {
            baseName.clear();
        }
        series_.OnNameLeft(event.folder, event.name, baseName);
        break;
    }
    default:
        break;
    }
    book_.OnFileEvent(event.folder, event.name, event.kind);
}

// A given folder that is gone is told, and ends the service when it was the
// last one; a subfolder is forgotten without a word. Either takes the
// subfolders below it along.
void WatchService::OnFolderGone(int folder) {
    if (!folders_[static_cast<std::size_t>(folder)].present) {
        return;  // the kernel tells it more than once
    }
    ForgetSubfoldersBelow(folders_[static_cast<std::size_t>(folder)].held.path);
    if (!IsGiven(folder)) {
        ForgetSubfolder(folder);
        return;
    }
    WatchedFolder& watched = folders_[static_cast<std::size_t>(folder)];
    watched.present = false;
    --givenPresent_;
    folderByPath_.erase(watched.held.path);
    events_.Unwatch(folder);
    book_.ForgetFolder(folder);
    series_.ForgetFolder(folder);
    files_.ReleaseFolder(watched.held.handle);
    Message(OutputStream::Err, "Ordner nicht mehr da: " + NameAsText(watched.held.path));
    if (givenPresent_ == 0) {
        Message(OutputStream::Err, "Kein Ordner mehr zu beobachten, Ende.");
        Stop(kExitFailed);
    }
}

// Every name in the folder is looked at: at start, when it came, and after
// the kernel dropped events. Its subfolders are added to *subfolders.
bool WatchService::ScanFolder(int folder, SubfolderNames* subfolders, std::string* error) {
    const std::string path = folders_[static_cast<std::size_t>(folder)].held.path;
    return ListFolder(
        path.c_str(),
        [&](const char* name, EntryKind kind) {
            if (kind == EntryKind::MayBeFile) {
                book_.OnFileEvent(folder, name, FolderEventKind::Arrived);
            } else if (settings_.subfolders) {
                subfolders->emplace_back(folder, name);
            }
        },
        error);
}

bool WatchService::FolderPathFits(const std::string& path) const {
    return path.size() + RoomForNamesInFolder() <= files_.MaxPathLength();
}

void WatchService::RescanAll() {
    rescanAll_ = false;
    Message(OutputStream::Err,
            "Zu viele Ereignisse auf einmal: alle Ordner werden neu durchgesehen.");
    for (std::size_t number = 0; number < folders_.size(); ++number) {
        const int folder = static_cast<int>(number);
        if (!folders_[number].present) {
            continue;
        }
        // Its removal may be among the events the kernel dropped.
        std::string error;
        if (!files_.NameLeadsToHeldFolder(folders_[number].held.handle)) {
            OnFolderGone(folder);
        } else if (!ScanFolder(folder, &subfoldersToWatch_, &error) && IsGiven(folder)) {
            Message(OutputStream::Err,
                    "Ordner nicht lesbar: " + NameAsText(folders_[number].held.path) + " (" +
                        error + ")");
        }
        // A listing causes events of its own (the folder's close): read as
        // they come, they never fill the kernel's queue.
        ReadEvents();
    }
    // Those watched already are passed over.
    WatchNewSubfolders();
}

// With --from-base every series' template is made again when next needed;
// otherwise the template file is loaded again, and kept when that fails.
void WatchService::Reload() {
    if (settings_.fromBase) {
        std::vector<std::vector<std::string>> due;
        series_.ForgetTemplates(&due);
        for (std::size_t folder = 0; folder < due.size(); ++folder) {
            MakeDue(static_cast<int>(folder), due[folder]);
        }
        Message(OutputStream::Out, "Header werden neu aus den Basis-Dateien gemacht.");
        return;
    }
    // The template file is held open and locked; it has to be let go before
    // it can be opened again.
    headerTemplate_.ReleaseFile();
    HeaderTemplate reloaded;
    const TemplateLoadResult loaded =
        LoadHeaderTemplateFrom(reloaded, files_, settings_.headerPath.c_str());
    if (loaded == TemplateLoadResult::Loaded) {
        headerTemplate_ = std::move(reloaded);
        Message(OutputStream::Out, "Header neu geladen: " + NameAsText(settings_.headerPath) +
                                       " (" + std::to_string(headerTemplate_.length) + " Byte)");
        return;
    }
    Message(OutputStream::Err,
            "Header nicht neu geladen: " + FromWindows1252(TemplateLoadMessage(loaded)) +
                " Der bisherige bleibt in Gebrauch.");
}

void WatchService::HandleSignals() {
    for (;;) {
        switch (events_.TakeSignal()) {
        case ServiceSignal::None:
            if (output_.ReaderGone()) {
                Stop(kExitFailed);  // the writer said so on standard error
            }
            return;
        case ServiceSignal::Stop:
            Stop(kExitOk);
            break;
        case ServiceSignal::Reload:
            Reload();
            break;
        }
    }
}

// With more than one folder, the folder's path ahead of the line.
void WatchService::Line(OutputStream stream, int folder, const std::string& text) {
    if (settings_.folders.size() == 1 && !settings_.subfolders) {
        output_.Line(stream, text);
        return;
    }
    const std::string& path = folders_[static_cast<std::size_t>(folder)].held.path;
    output_.Line(stream, NameAsText(path.substr(0, path.size() - 1)) + ": " + text);
}

void WatchService::Message(OutputStream stream, const std::string& text) {
    output_.Line(stream, text);
}

void WatchService::Stop(int exitCode) {
    if (!stop_) {
        stop_ = true;
        exitCode_ = exitCode;
    }
}
