// What the watch service keeps per series (a base file and the follow-up
// files beside it in one folder), without any system call: with
// --from-base the template made from its base file, what was told about it
// once, and its follow-up files that wait on the base file (not there yet,
// or giving no template). A series is forgotten once neither its base file
// nor a waiting follow-up file is there any more, so what a folder's churn
// leaves behind is what its files hold now.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "file_reads.h"
#include "header_template.h"

struct Series {
    bool basePresent = false;
    FileStamp base;  // the base file as it was when the series last looked at it
    std::unique_ptr<HeaderTemplate> made;  // with --from-base, once made
    bool noTemplate = false;               // this base file gives none
    bool noExclusivityTold = false;
    bool otherOwnerTold = false;
    bool notAFileTold = false;  // a follow-up name that is a link, a hard link or no file
    // Follow-up files left alone until the base file changes.
    std::vector<std::string> waitingOnBase;
};

class SeriesBook {
public:
    explicit SeriesBook(int folderCount) : folders_(static_cast<std::size_t>(folderCount)) {}

    Series* Find(int folder, const std::string& baseName);

    // The series of `baseName`, made when new, with its base file as it is
    // now. A base file that is not as the series knew it (it arrived, left
    // or changed) makes what was known from it void; the follow-up files
    // that waited on it are moved to *due.
    Series& Look(int folder, const std::string& baseName, bool present, const FileStamp& now,
                 std::vector<std::string>* due);

    // A follow-up file waits on its base file.
    void WaitOnBase(Series& series, const std::string& name);

    // A name left the folder: as a follow-up file of `baseName` (empty when
    // it is none) it waits no more; as a base file, its series is forgotten
    // unless follow-up files still wait on it.
    void OnNameLeft(int folder, const std::string& name, const std::string& baseName);

    // A folder watched from now on; its number may be one a forgotten
    // folder had.
    void AddFolder(int folder);
    void ForgetFolder(int folder);

    // Templates made from base files: at most kMaxKeptTemplates are kept
    // (2 KiB each); beyond, all are made again when next needed.
    void KeepTemplate(Series& series, std::unique_ptr<HeaderTemplate> made);
    // Every series' template is made again when next needed (a reload); the
    // follow-up files that waited for one are moved to *due, by folder.
    void ForgetTemplates(std::vector<std::vector<std::string>>* due);

    std::size_t SeriesCount() const;

private:
    using Folder = std::unordered_map<std::string, Series>;
    void ForgetIfUnused(Folder& series, Folder::iterator found);

    std::vector<Folder> folders_;
    std::size_t madeTemplates_ = 0;
};

inline constexpr std::size_t kMaxKeptTemplates = 1024;
