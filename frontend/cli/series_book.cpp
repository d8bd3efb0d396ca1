#include "series_book.h"

#include <algorithm>

Series* SeriesBook::Find(int folder, const std::string& baseName) {
    Folder& series = folders_[static_cast<std::size_t>(folder)];
    const auto found = series.find(baseName);
    return found == series.end() ? nullptr : &found->second;
}

Series& SeriesBook::Look(int folder, const std::string& baseName, bool present,
                         const FileStamp& now, std::vector<std::string>* due) {
    const auto [entry, added] = folders_[static_cast<std::size_t>(folder)].try_emplace(baseName);
    Series& series = entry->second;
    if (!added && series.basePresent == present && (!present || series.base == now)) {
        return series;
    }
    // A new, changed or vanished base file: nothing known from the old one holds.
    madeTemplates_ -= series.made != nullptr;
    series.made.reset();
    series.noTemplate = false;
    series.noExclusivityTold = false;
    series.otherOwnerTold = false;
    series.basePresent = present;
    series.base = now;
    due->insert(due->end(), series.waitingOnBase.begin(), series.waitingOnBase.end());
    series.waitingOnBase.clear();
    return series;
}

void SeriesBook::WaitOnBase(Series& series, const std::string& name) {
    if (std::find(series.waitingOnBase.begin(), series.waitingOnBase.end(), name) ==
        series.waitingOnBase.end()) {
        series.waitingOnBase.push_back(name);
    }
}

void SeriesBook::OnNameLeft(int folder, const std::string& name, const std::string& baseName) {
    Folder& series = folders_[static_cast<std::size_t>(folder)];
    if (!baseName.empty()) {
        const auto found = series.find(baseName);
        if (found != series.end()) {
            std::erase(found->second.waitingOnBase, name);
            ForgetIfUnused(series, found);
        }
    }
    const auto asBase = series.find(name);
    if (asBase != series.end()) {
        asBase->second.basePresent = false;
        ForgetIfUnused(series, asBase);
    }
}

void SeriesBook::ForgetIfUnused(Folder& series, Folder::iterator found) {
    if (!found->second.basePresent && found->second.waitingOnBase.empty()) {
        madeTemplates_ -= found->second.made != nullptr;
        series.erase(found);
    }
}

void SeriesBook::AddFolder(int folder) {
    if (folders_.size() <= static_cast<std::size_t>(folder)) {
        folders_.resize(static_cast<std::size_t>(folder) + 1);
    }
}

void SeriesBook::ForgetFolder(int folder) {
    Folder& series = folders_[static_cast<std::size_t>(folder)];
    for (const auto& [name, entry] : series) {
        madeTemplates_ -= entry.made != nullptr;
    }
    series.clear();
}

void SeriesBook::KeepTemplate(Series& series, std::unique_ptr<HeaderTemplate> made) {
    if (madeTemplates_ >= kMaxKeptTemplates) {
        for (Folder& folder : folders_) {
            for (auto& [name, entry] : folder) {
                entry.made.reset();
            }
        }
        madeTemplates_ = 0;
    }
    madeTemplates_ += series.made == nullptr;
    series.made = std::move(made);
}

void SeriesBook::ForgetTemplates(std::vector<std::vector<std::string>>* due) {
    due->assign(folders_.size(), {});
    for (std::size_t folder = 0; folder < folders_.size(); ++folder) {
        for (auto& [name, series] : folders_[folder]) {
            series.made.reset();
            if (series.noTemplate) {
                series.noTemplate = false;
                (*due)[folder].insert((*due)[folder].end(), series.waitingOnBase.begin(),
                                      series.waitingOnBase.end());
                series.waitingOnBase.clear();
            }
        }
    }
    madeTemplates_ = 0;
}

std::size_t SeriesBook::SeriesCount() const {
    std::size_t count = 0;
    for (const Folder& folder : folders_) {
        count += folder.size();
    }
    return count;
}
