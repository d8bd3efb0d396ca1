// The watch service's look at one due file: is it a follow-up file of a base
// file beside it, which template is its series', and what became of it.
#include "cli_command.h"
#include "file_reads.h"
#include "follow_up_name.h"
#include "recording_header.h"
#include "watch_service.h"

bool WatchService::ParseFollowUp(const std::string& name, std::string* baseName) const {
    char base[kNameBufferSize];
    std::uint16_t counter = 0;
    // Numbers start at 1: "Film#0.mpg" is no follow-up file.
    if (!ParseFollowUpName(name.c_str(), settings_.postfix.c_str(), base, sizeof base, &counter) ||
        counter == 0) {
        return false;
    }
    *baseName = base;
    return true;
}

Series& WatchService::SeriesOf(int folder, const std::string& baseName) {
    const SeriesFolder& held = folders_[static_cast<std::size_t>(folder)].held;
    FileStamp now;
    const bool present = StampFileIn(held.handle, held.path, baseName.c_str(), &now) && now.regular;
    std::vector<std::string> due;
    Series& series = series_.Look(folder, baseName, present, present ? now : FileStamp(), &due);
    MakeDue(folder, due);
    return series;
}

// A file with an event may be a base file: when it arrived, left or changed,
// its series' template and what was told of it no longer hold, and its
// follow-up files that waited on it are due.
void WatchService::LookAtAsBase(int folder, const std::string& name) {
    if (series_.Find(folder, name) != nullptr) {
        SeriesOf(folder, name);
    }
}

void WatchService::MakeDue(int folder, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        book_.MakeDueAgain(folder, name);
    }
}

// The template for a follow-up file of the series: the one given, or with
// --from-base the series' own; nullptr when its base file gives none (then
// *busy tells whether only for now).
const HeaderTemplate* WatchService::TemplateFor(int folder, Series& series,
                                                const std::string& baseName, bool* busy) {
    *busy = false;
    if (!settings_.fromBase) {
        return &headerTemplate_;
    }
    if (series.made != nullptr || series.noTemplate) {
        return series.made.get();
    }
    auto made = std::make_unique<HeaderTemplate>();
    std::string reason;
    switch (MakeSeriesTemplate(folders_[static_cast<std::size_t>(folder)].held, baseName,
                               made.get(), &reason)) {
    case SeriesTemplateResult::Made:
        series_.KeepTemplate(series, std::move(made));
        return series.made.get();
    case SeriesTemplateResult::Busy:
        *busy = true;
        return nullptr;
    case SeriesTemplateResult::None:
        break;
    }
    series.noTemplate = true;
    Line(OutputStream::Err, folder,
         "Kein Header aus der Basis-Datei: " + reason +
             ". Ihre Folge-Dateien bleiben unber\xC3\xBChrt, bis sich die Basis-Datei "
             "\xC3\xA4ndert.");
    return nullptr;
}

WatchService::Attempt WatchService::LookAndRepair(int folder, const std::string& name) {
    LookAtAsBase(folder, name);
    std::string baseName;
    if (!ParseFollowUp(name, &baseName)) {
        return {AttemptOutcome::Finished, false};
    }
    Series& series = SeriesOf(folder, baseName);
    if (!series.basePresent) {
        series_.WaitOnBase(series, name);  // due again when its base file arrives
        return {AttemptOutcome::Parked, false};
    }
    bool busy = false;
    const HeaderTemplate* headerTemplate = TemplateFor(folder, series, baseName, &busy);
    if (headerTemplate == nullptr) {
        if (busy) {
            return {AttemptOutcome::Waiting, false};
        }
        series_.WaitOnBase(series, name);
        return {AttemptOutcome::Parked, false};
    }
    const SeriesFolder& held = folders_[static_cast<std::size_t>(folder)].held;
    std::string reason;
    const Finding finding =
        LookAndRepairWaitingFile(files_, held, name, baseName, *headerTemplate, &reason);
    return Report(folder, series, name, finding, reason);
}

WatchService::Attempt WatchService::Report(int folder, Series& series, const std::string& name,
                                           Finding finding, const std::string& reason) {
    if (finding == Finding::FolderGone) {
        OnFolderGone(folder);
        return {AttemptOutcome::Finished, false};
    }
    const FindingReport report = ReportOf(finding, name, reason);
    const bool wroteFile = finding == Finding::Repaired || finding == Finding::WriteFailed ||
                           finding == Finding::FlushFailed;
    switch (report.kind) {
    case FindingKind::Done:
        if (finding == Finding::Repaired) {
            Line(OutputStream::Out, folder, report.line);
        }
        return {AttemptOutcome::Finished, wroteFile};
    case FindingKind::Ignored:
        // Never written, and told once per series: a second name of another
        // file (a hard link), a link or a pipe where a part is expected.
        if (!report.line.empty() && !series.notAFileTold) {
            series.notAFileTold = true;
            Line(OutputStream::Err, folder, report.line);
        }
        return {AttemptOutcome::Finished, false};
    case FindingKind::Waits:
        return {AttemptOutcome::Waiting, false};
    case FindingKind::Refused: {
        // Once per series: every file of it would be refused alike.
        bool& told =
            finding == Finding::OtherOwner ? series.otherOwnerTold : series.noExclusivityTold;
        if (!told) {
            told = true;
            Line(OutputStream::Err, folder, report.line);
        }
        return {AttemptOutcome::Parked, false};
    }
    case FindingKind::Failed:
        Line(OutputStream::Err, folder, report.line);
        return {AttemptOutcome::Parked, wroteFile};
    }
    return {AttemptOutcome::Parked, false};
}
