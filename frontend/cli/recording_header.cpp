#include "recording_header.h"

#include <functional>

#include "cli_command.h"
#include "file_reads.h"
#include "system_text.h"

namespace {

// Reads a recording's first bytes: by its path, or in a held folder.
using StartReader =
    std::function<ReadHeadResult(unsigned char* buffer, std::size_t size, std::size_t* count)>;

// The pack is looked for in the first MiB; reading a little more lets a
// pack that starts just before that end be read whole.
constexpr std::size_t kSearchLength = 1024 * 1024;

// The first look covers the first 64 KiB, every pack starting there read
// whole: a pack found there is the one the search of the whole MiB finds.
// Recordings start with it, so a watch over an archive of many series reads
// an eighth as much.
constexpr std::size_t kFirstLookLength = 64 * 1024;

// The recording's first `length` bytes, or all of a shorter one; false with
// a message when it cannot be read.
bool ReadRecording(const StartReader& read, const std::string& path, std::size_t length,
                   std::vector<unsigned char>* bytes, std::string* message) {
    bytes->resize(length);
    std::size_t count = 0;
    switch (read(bytes->data(), bytes->size(), &count)) {
    case ReadHeadResult::Read:
        bytes->resize(count);
        return true;
    case ReadHeadResult::Missing:
        *message = "Aufnahme nicht gefunden: " + NameAsText(path);
        return false;
    case ReadHeadResult::NotAFile:
        *message = "keine gew\xC3\xB6hnliche Datei oder ein fremder Link: " + NameAsText(path);
        return false;
    case ReadHeadResult::Busy:
        *message =
            "Aufnahme von einem anderen Programm ohne Lesefreigabe ge\xC3\xB6"
            "ffnet: " +
            NameAsText(path);
        return false;
    case ReadHeadResult::Failed:
        break;
    }
    *message = "Aufnahme nicht lesbar: " + NameAsText(path);
    return false;
}

// The pack to copy, or false with the reason there is none.
bool FindPack(const std::string& path, const std::vector<unsigned char>& bytes, HeaderPack* found,
              std::string* message) {
    if (bytes.empty()) {
        *message = NameAsText(path) + " ist noch leer";
        return false;
    }
    switch (FindHeaderPack(bytes.data(), bytes.size(), kSearchLength, found)) {
    case HeaderSearch::Found:
        return true;
    case HeaderSearch::TransportStream:
        *message = NameAsText(path) +
                   " ist ein MPEG-Transportstrom (Sync-Byte 0x47 an jedem Paketanfang), kein "
                   "Programmstrom: er hat keinen Pack-Header";
        return false;
    case HeaderSearch::Truncated:
        *message = NameAsText(path) + ": Pack- oder System-Header am Dateiende abgeschnitten";
        return false;
    case HeaderSearch::NotFound:
        break;
    }
    *message = NameAsText(path) + ": kein MPEG-Pack mit System-Header im ersten MiB";
    return false;
}

// The recording's start and the pack to copy from it, or false with the
// reason there is none.
bool ReadAndFindPack(const StartReader& read, const std::string& path,
                     std::vector<unsigned char>* recording, HeaderPack* found,
                     std::string* message) {
    const std::size_t firstLook = kFirstLookLength + kLongestPackAndSystemHeader;
    if (!ReadRecording(read, path, firstLook, recording, message)) {
        return false;
    }
    const bool wholeFile = recording->size() < firstLook;
    if (!wholeFile) {
        if (FindHeaderPack(recording->data(), recording->size(), kFirstLookLength, found) ==
            HeaderSearch::Found) {
            return true;
        }
        if (!ReadRecording(read, path, kSearchLength + kLongestPackAndSystemHeader, recording,
                           message)) {
            return false;
        }
    }
    return FindPack(path, *recording, found, message);
}

bool BuildRecordingHeader(const StartReader& read, const std::string& path, std::size_t size,
                          RecordingHeader* header, std::string* message) {
    std::vector<unsigned char> recording;
    if (!ReadAndFindPack(read, path, &recording, &header->found, message)) {
        return false;
    }
    if (!BuildHeaderTemplate(recording.data(), header->found, size, &header->bytes)) {
        *message = NameAsText(path) + ": Pack- und System-Header brauchen mit dem Padding-Paket " +
                   std::to_string(SmallestTemplateSize(header->found)) + " Byte, " +
                   std::to_string(size) + " sind zu klein";
        return false;
    }
    return true;
}

}  // namespace

bool MakeRecordingHeader(const std::string& path, std::size_t size, RecordingHeader* header,
                         std::string* message) {
    const StartReader read = [&path](unsigned char* buffer, std::size_t length,
                                     std::size_t* count) {
        return ReadFileStart(path.c_str(), buffer, length, count);
    };
    return BuildRecordingHeader(read, path, size, header, message);
}

SeriesTemplateResult MakeSeriesTemplate(const SeriesFolder& folder, const std::string& baseName,
                                        HeaderTemplate* headerTemplate, std::string* message) {
    bool busy = false;
    const StartReader read = [&](unsigned char* buffer, std::size_t length, std::size_t* count) {
        const ReadHeadResult result =
            ReadFileStartIn(folder.handle, folder.path, baseName.c_str(), LinkRule::FollowTrusted,
                            buffer, length, count);
        busy = result == ReadHeadResult::Busy;
        return result;
    };
    const std::string basePath = folder.path + baseName;
    RecordingHeader header;
    if (!BuildRecordingHeader(read, basePath, kTemplateMaxLength, &header, message)) {
        return busy ? SeriesTemplateResult::Busy : SeriesTemplateResult::None;
    }
    // The padding makes it exactly the size asked for, within the bounds.
    const TemplateLoadResult made = TemplateFromBytes(
        *headerTemplate, header.bytes.data(), static_cast<std::uint32_t>(header.bytes.size()));
    if (made != TemplateLoadResult::Loaded) {
        *message = NameAsText(basePath) + ": " + FromWindows1252(TemplateLoadMessage(made));
        return SeriesTemplateResult::None;
    }
    return SeriesTemplateResult::Made;
}
