// velmora-cli make-header: the header template made from a good recording:
// its first pack that carries a system header, padded to the template's size,
// so a repaired file starts with a complete pack and none of the first
// part's pictures.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_command.h"
#include "cli_files.h"
#include "header_template.h"
#include "program_stream.h"

namespace {

constexpr char kUsage[] =
    "Aufruf: velmora-cli make-header AUFNAHME [-o DATEI] [--size N] [--force]\n"
    "\n"
    "Macht den Header aus einer guten Aufnahme (meist der Basis-Datei, Film.mpg):\n"
    "aus dem ersten Pack im ersten MiB, der einen System-Header tr\xC3\xA4gt (MPEG-1\n"
    "oder MPEG-2), dessen Pack-Header und System-Header, gefolgt von einem\n"
    "Padding-Paket, das den Header genau N Byte lang macht. Eine restaurierte\n"
    "Datei beginnt so mit einem vollst\xC3\xA4ndigen Pack ohne Bilder des ersten Teils.\n"
    "\n"
    "  -o, --output DATEI  die Header-Datei (Vorgabe: header.mpeg im aktuellen Ordner)\n"
    "  --size N            ihre Gr\xC3\xB6\xC3\x9F"
    "e in Byte, 64 bis 2048 (Vorgabe: 2048)\n"
    "  --force             eine vorhandene Header-Datei ersetzen\n"
    "\n"
    "Exit-Codes: 0 geschrieben; 1 die Header-Datei lie\xC3\x9F sich nicht schreiben;\n"
    "2 falscher Aufruf, Aufnahme nicht lesbar, ein Transportstrom oder ohne Pack\n"
    "mit System-Header, Header-Datei schon vorhanden (ohne --force).\n";

// The pack is looked for in the first MiB; reading a little more lets a
// pack that starts just before that end be read whole.
constexpr std::size_t kSearchLength = 1024 * 1024;

int Refuse(const std::string& message) {
    std::fprintf(stderr, "velmora-cli make-header: %s\n", message.c_str());
    return kExitUsage;
}

// A whole number from kTemplateMinLength to kTemplateMaxLength, digits only.
bool ParseTemplateSize(const std::string& text, std::size_t* size) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    *size = value;
    return value >= kTemplateMinLength && value <= kTemplateMaxLength;
}

std::string StreamIdList(const SystemHeader& system) {
    if (system.streamIds.empty()) {
        return "keine";
    }
    std::string list;
    for (const std::uint8_t id : system.streamIds) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", id);
        list += list.empty() ? "" : " ";
        list += hex;
    }
    return list;
}

// What was found, e.g. "MPEG-2-Pack mit System-Header bei Byte 0
// (Mux-Rate 10080000 bit/s, Stream-IDs E0 C0)".
std::string Describe(const HeaderPack& found) {
    const char* system = found.pack.system == MpegSystem::Mpeg1 ? "MPEG-1" : "MPEG-2";
    // The mux rate counts units of 50 bytes a second.
    const unsigned long long bitsPerSecond = found.pack.muxRate * 400ull;
    return std::string(system) + "-Pack mit System-Header bei Byte " +
           std::to_string(found.offset) + " (Mux-Rate " + std::to_string(bitsPerSecond) +
           " bit/s, Stream-IDs " + StreamIdList(found.system) + ")";
}

// The recording's first bytes; false with a message when it cannot be read.
bool ReadRecording(const std::string& path, std::vector<unsigned char>* bytes,
                   std::string* message) {
    bytes->resize(kSearchLength + kLongestPackAndSystemHeader);
    std::size_t count = 0;
    switch (ReadFileStart(path.c_str(), bytes->data(), bytes->size(), &count)) {
    case ReadHeadResult::Read:
        bytes->resize(count);
        return true;
    case ReadHeadResult::Missing:
        *message = "Aufnahme nicht gefunden: " + path;
        return false;
    case ReadHeadResult::NotAFile:
        *message = "keine gew\xC3\xB6hnliche Datei: " + path;
        return false;
    case ReadHeadResult::Busy:
    case ReadHeadResult::Failed:
        break;
    }
    *message = "Aufnahme nicht lesbar: " + path;
    return false;
}

// The pack to copy, or false with the reason there is none.
bool FindPack(const std::string& path, const std::vector<unsigned char>& bytes, HeaderPack* found,
              std::string* message) {
    switch (FindHeaderPack(bytes.data(), bytes.size(), kSearchLength, found)) {
    case HeaderSearch::Found:
        return true;
    case HeaderSearch::TransportStream:
        *message = path +
                   " ist ein MPEG-Transportstrom (Sync-Byte 0x47 an jedem Paketanfang), kein "
                   "Programmstrom: er hat keinen Pack-Header";
        return false;
    case HeaderSearch::Truncated:
        *message = path + ": Pack- oder System-Header am Dateiende abgeschnitten";
        return false;
    case HeaderSearch::NotFound:
        break;
    }
    *message = path + ": kein MPEG-Pack mit System-Header im ersten MiB";
    return false;
}

int RunMakeHeader(const CliArguments& arguments) {
    if (arguments.positional.size() != 1) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string recording = arguments.positional[0];
    const std::string output = arguments.Value("--output", kTemplateFileName);
    std::size_t size = kTemplateMaxLength;
    if (arguments.Has("--size") && !ParseTemplateSize(arguments.Value("--size", ""), &size)) {
        return Refuse("--size erwartet eine Zahl von 64 bis 2048");
    }
    if (AreSameFile(recording.c_str(), output.c_str())) {
        return Refuse("die Header-Datei w\xC3\xA4re die Aufnahme selbst: " + output);
    }
    std::vector<unsigned char> bytes;
    HeaderPack found;
    std::string message;
    if (!ReadRecording(recording, &bytes, &message) ||
        !FindPack(recording, bytes, &found, &message)) {
        return Refuse(message);
    }
    std::vector<unsigned char> headerBytes;
    if (!BuildHeaderTemplate(bytes.data(), found, size, &headerBytes)) {
        return Refuse("--size " + std::to_string(size) +
                      " ist zu klein: Pack- und System-Header brauchen mit dem Padding-Paket " +
                      std::to_string(SmallestTemplateSize(found)) + " Byte");
    }
    std::string error;
    switch (CreateNewFile(output.c_str(), headerBytes.data(), headerBytes.size(),
                          arguments.Has("--force"), &error)) {
    case CreateFileResult::Created:
        break;
    case CreateFileResult::Exists:
        return Refuse(output + " gibt es schon (--force ersetzt die Datei)");
    case CreateFileResult::Failed:
        std::fprintf(stderr, "velmora-cli make-header: %s nicht geschrieben: %s\n", output.c_str(),
                     error.c_str());
        return kExitFailed;
    }
    std::printf("%s; %s geschrieben (%zu Byte)\n", Describe(found).c_str(), output.c_str(),
                headerBytes.size());
    return kExitOk;
}

}  // namespace

const CliCommand kMakeHeaderCommand{
    "make-header",
    "macht den Header (header.mpeg) aus einer guten Aufnahme",
    kUsage,
    {{"--output", "-o", true}, {"--size", nullptr, true}, {"--force", nullptr, false}},
    RunMakeHeader,
};
