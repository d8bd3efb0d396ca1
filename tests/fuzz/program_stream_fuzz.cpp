// The program-stream parser over any bytes: every read stays inside them
// (AddressSanitizer), a header found lies wholly inside them, and a template
// built from it is exactly its size and starts with the same valid headers;
// check and StartsAsProgramStream judge a file's start by one rule.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "program_stream.h"

namespace {

void CheckTemplate(const unsigned char* bytes, std::size_t size, const HeaderPack& found,
                   std::size_t templateSize) {
    std::vector<unsigned char> built;
    const bool fits = templateSize >= SmallestTemplateSize(found);
    Require(BuildHeaderTemplate(bytes, found, templateSize, &built) == fits,
            "a template is built exactly when the size holds the headers and the padding");
    if (!fits) {
        Require(built.empty(), "nothing built when refused");
        return;
    }
    Require(built.size() == templateSize, "the template is exactly its size");
    const std::size_t headers = found.pack.length + found.system.length;
    Require(found.offset + headers <= size, "the headers lie inside the bytes");
    Require(std::memcmp(built.data(), bytes + found.offset, headers) == 0,
            "the template starts with the recording's headers");
    const FileStart start = CheckFileStart(built.data(), built.size());
    Require(start.verdict == StartVerdict::Valid &&
                StartsAsProgramStream(built.data(), built.size()) == ParseResult::Valid,
            "the template passes the check and starts as a program stream");
    Require(start.system.streamIds == found.system.streamIds, "the same streams");
}

// check and StartsAsProgramStream apply one rule, and fewer bytes never
// contradict more: a cut either says "read more" or the same.
void CheckStartRule(const unsigned char* bytes, std::size_t size, const FileStart& start,
                    std::size_t cut) {
    const ParseResult whole = StartsAsProgramStream(bytes, size);
    Require((whole == ParseResult::Valid) == (start.verdict == StartVerdict::Valid),
            "check passes exactly the starts in order");
    const ParseResult part = StartsAsProgramStream(bytes, cut);
    Require(part == ParseResult::Truncated || part == whole, "a cut says read more or the same");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::size_t templateSize = input.Word() % 2100;
    const std::size_t searchLimit = input.Word();
    const std::string rest = input.Rest();
    const auto* bytes = reinterpret_cast<const unsigned char*>(rest.data());

    HeaderPack found;
    if (FindHeaderPack(bytes, rest.size(), searchLimit, &found) == HeaderSearch::Found) {
        Require(found.offset < searchLimit, "the pack starts before the limit");
        CheckTemplate(bytes, rest.size(), found, templateSize);
    }
    const FileStart start = CheckFileStart(bytes, rest.size());
    if (start.verdict != StartVerdict::NoPackHeader &&
        start.verdict != StartVerdict::PackHeaderTruncated) {
        PackHeader pack;
        Require(start.pack.length <= rest.size(), "a valid pack header lies inside the bytes");
        Require(ParsePackHeader(bytes, start.pack.length - 1, &pack) == ParseResult::Truncated,
                "one byte less is a cut-off header");
    }
    CheckStartRule(bytes, rest.size(), start, searchLimit % (rest.size() + 1));
    return 0;
}
