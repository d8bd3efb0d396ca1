// The watch service: follow-up files in the watched folders are repaired
// the moment they have content and no other program holds them, for any
// number of series at once. Driven by the folders' events; a file that
// waits on another program is tried again each retry period. With
// subfolders, every folder below a given one is watched as well, each held
// and served like a given one (a series stays within one folder), from the
// start or from the moment it comes; links to folders are not followed.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli_repair_files.h"
#include "folder_events.h"
#include "folder_listing.h"
#include "follow_up_outcome.h"
#include "header_template.h"
#include "monotonic_clock.h"
#include "series_book.h"
#include "service_output.h"
#include "watch_book.h"

struct WatchSettings {
    std::vector<std::string> folders;  // as given
    std::string postfix = "#";
    bool fromBase = false;
    std::string headerPath;   // absolute; without fromBase
    bool subfolders = false;  // every folder below the given ones too
};

class WatchService {
public:
    explicit WatchService(const WatchSettings& settings);
    ~WatchService();
    WatchService(const WatchService&) = delete;
    WatchService& operator=(const WatchService&) = delete;

    // Opens the events, holds and watches the folders, loads the template;
    // false with *problem (a usage error) when it cannot start.
    bool Start(std::string* problem);

    // Looks at every file in the folders, then serves until a stop request
    // (exit code 0), the loss of every folder or of the output's reader (1).
    int Run();

private:
    struct WatchedFolder {
        SeriesFolder held;
        int root = -1;  // the given folder it is (below); its own number for a given one
        bool present = false;
    };
    // Subfolders still to be watched: the folder above each, and its name.
    using SubfolderNames = std::vector<std::pair<int, std::string>>;
    struct Attempt {
        AttemptOutcome outcome;
        bool wroteFile;  // opened for writing: parked, it waits for a change past that write
    };

    bool WatchFolders(std::string* problem);
    bool LoadTemplate(std::string* problem);

    Attempt LookAndRepair(int folder, const std::string& name);
    void LookAtAsBase(int folder, const std::string& name);
    bool ParseFollowUp(const std::string& name, std::string* baseName) const;
    Series& SeriesOf(int folder, const std::string& baseName);
    const HeaderTemplate* TemplateFor(int folder, Series& series, const std::string& baseName,
                                      bool* busy);
    Attempt Report(int folder, Series& series, const std::string& name, Finding finding,
                   const std::string& reason);
    void MakeDue(int folder, const std::vector<std::string>& names);

    void OnFolderEvent(const FolderEvent& event);
    void OnFolderGone(int folder);
    bool ScanFolder(int folder, SubfolderNames* subfolders, std::string* error);

    bool IsGiven(int folder) const;
    bool FolderPathFits(const std::string& path) const;
    void ReadEvents();
    void WatchNewSubfolders();
    int WatchSubfolder(int parent, const std::string& name);
    int NewFolderNumber();
    void OnSubfolderLeft(int parent, const std::string& name);
    void ForgetSubfoldersBelow(const std::string& path);
    void ForgetSubfolder(int folder);
    void TellLeftOut();
    void RescanAll();
    void Reload();
    void HandleSignals();
    void ProcessDueFiles();

    void Line(OutputStream stream, int folder, const std::string& text);
    void Message(OutputStream stream, const std::string& text);
    void Stop(int exitCode);

    WatchSettings settings_;
    CliRepairFiles files_;
    HeaderTemplate headerTemplate_;
    std::vector<WatchedFolder> folders_;         // by number: the given ones first
    std::map<std::string, int> folderByPath_;    // every watched folder, by its path
    std::vector<int> freeNumbers_;               // of subfolders forgotten
    SubfolderNames subfoldersToWatch_;           // met in events and scans, not yet watched
    std::vector<std::string> leftOut_;           // at the system's limit, not yet told
    std::vector<std::string> tooLong_;           // paths too long, not yet told
    std::vector<std::string> outOfDescriptors_;  // no descriptor left, not yet told
    int givenPresent_ = 0;
    FolderEvents events_;
    ServiceOutput output_;
    WatchBook book_;
    SeriesBook series_;
    bool rescanAll_ = false;
    bool stop_ = false;
    int exitCode_ = 0;
};
