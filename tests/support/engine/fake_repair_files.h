// An in-memory file system for the engine's tests: files by full name, with
// switches for busy files, missing files and failing or short operations.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "repair_files.h"

// The system's code the fake's failed reads and writes report.
inline constexpr std::uint32_t kFakeSystemError = 5;

class FakeRepairFiles : public RepairFiles {
public:
    struct File {
        std::vector<unsigned char> bytes;
        bool busy = false;           // another program has it open
        bool noExclusivity = false;  // the platform cannot check who has it open
        bool otherOwner = false;     // not its base file's owner's file
        bool failWrite = false;
        std::uint32_t shortWriteBy = 0;
        bool failRead = false;
        std::uint32_t shortReadBy = 0;
        std::uint32_t reportedLength = 0;  // FileLength's answer when nonzero
    };

    File& Add(const std::string& name, std::vector<unsigned char> bytes) {
        File& file = files_[name];
        file.bytes = std::move(bytes);
        return file;
    }
    File& Add(const std::string& name, std::size_t size, unsigned char fill) {
        return Add(name, std::vector<unsigned char>(size, fill));
    }
    File* Find(const std::string& name) {
        auto it = files_.find(name);
        return it == files_.end() ? nullptr : &it->second;
    }
    bool IsOpen(const std::string& name) const {
        for (const auto& [handle, openName] : open_) {
            if (openName == name) {
                return true;
            }
        }
        return false;
    }
    int OpenCount() const { return static_cast<int>(open_.size()); }
    int openForWritingCalls = 0;
    std::string lastWriteDirectory;
    std::uint32_t maxPathLength = 259;

    FileHandle OpenForReading(const char* name) override { return Open(name, nullptr); }

    // Folders are held by name; one named in missingFolders cannot be held,
    // and one whose name is in goneFolders no longer leads to the held one.
    FolderHandle HoldFolder(const char* directory) override {
        if (missingFolders.count(directory) != 0) {
            return kNoFolder;
        }
        const FolderHandle folder = nextFolder_++;
        folders_[folder] = directory;
        return folder;
    }
    void ReleaseFolder(FolderHandle folder) override { folders_.erase(folder); }
    int HeldFolderCount() const { return static_cast<int>(folders_.size()); }

    FileHandle OpenForWriting(FolderHandle folder, const char* name, const char* baseName,
                              OpenFailure* failure) override {
        ++openForWritingCalls;
        lastBaseName = baseName;
        *failure = OpenFailure::Unavailable;
        const auto held = folders_.find(folder);
        if (held == folders_.end()) {
            return kNoFile;
        }
        lastWriteDirectory = held->second;
        if (goneFolders.count(held->second) != 0) {
            *failure = OpenFailure::FolderGone;
            return kNoFile;
        }
        return Open(held->second + name, failure);
    }
    std::set<std::string> missingFolders;
    std::set<std::string> goneFolders;
    std::string lastBaseName;

    std::uint32_t FileLength(FileHandle handle) override {
        const File& file = files_.at(open_.at(handle));
        return file.reportedLength ? file.reportedLength
                                   : static_cast<std::uint32_t>(file.bytes.size());
    }

    FileResult ReadBytes(FileHandle handle, void* buffer, std::uint32_t count,
                         std::uint32_t* bytesRead) override {
        const File& file = files_.at(open_.at(handle));
        *bytesRead = 0;
        if (file.failRead) {
            return {false, kFakeSystemError};
        }
        std::uint32_t n = count < file.bytes.size() ? count : std::uint32_t(file.bytes.size());
        n -= n < file.shortReadBy ? n : file.shortReadBy;
        std::copy(file.bytes.begin(), file.bytes.begin() + n, static_cast<unsigned char*>(buffer));
        *bytesRead = n;
        return {};
    }

    FileResult WriteBytes(FileHandle handle, const void* bytes, std::uint32_t count,
                          std::uint32_t* bytesWritten) override {
        File& file = files_.at(open_.at(handle));
        *bytesWritten = 0;
        if (file.failWrite) {
            return {false, kFakeSystemError};
        }
        const std::uint32_t n = count - (count < file.shortWriteBy ? count : file.shortWriteBy);
        if (file.bytes.size() < n) {
            file.bytes.resize(n);
        }
        std::copy_n(static_cast<const unsigned char*>(bytes), n, file.bytes.begin());
        *bytesWritten = n;
        return {};
    }

    // Reads and writes start at the file's start: nothing to move.
    FileResult Rewind(FileHandle) override { return {}; }

    // The files live in memory: nothing to flush.
    FileResult FlushFile(FileHandle) override { return {}; }

    void CloseFile(FileHandle handle) override {
        ++closeCalls;
        open_.erase(handle);
    }

    std::uint32_t MaxPathLength() const override { return maxPathLength; }

    int closeCalls = 0;

private:
    FileHandle Open(const std::string& name, OpenFailure* failure) {
        if (failure) {
            *failure = OpenFailure::Unavailable;
        }
        auto it = files_.find(name);
        if (it == files_.end() || it->second.busy || IsOpen(name)) {
            return kNoFile;
        }
        if (it->second.noExclusivity || (failure && it->second.otherOwner)) {
            if (failure) {
                *failure =
                    it->second.noExclusivity ? OpenFailure::NoExclusivity : OpenFailure::OtherOwner;
            }
            return kNoFile;
        }
        const FileHandle handle = nextHandle_++;
        open_[handle] = name;
        if (failure) {
            *failure = OpenFailure::None;
        }
        return handle;
    }

    std::map<std::string, File> files_;
    std::map<FileHandle, std::string> open_;
    FileHandle nextHandle_ = 100;
    std::map<FolderHandle, std::string> folders_;
    FolderHandle nextFolder_ = 1;
};
