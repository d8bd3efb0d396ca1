// StemLengthOfName and BuildFollowUpName over arbitrary base names, split
// points, postfixes, counters and buffer sizes.
#include <cstring>
#include <memory>
#include <string>

#include "follow_up_name.h"
#include "fuzz_support.h"

namespace {

bool Contains(const std::string& text, char c) {
    return text.find(c) != std::string::npos;
}

void CheckBuild(FuzzInput& input) {
    const std::uint16_t stemLength = input.Word();
    const std::uint16_t counter = input.Word();
    const std::size_t bufferSize = input.Word() % (kNameBufferSize + 1);
    const std::string postfix = input.Bytes(input.Byte() % 16).c_str();
    const std::string baseName = input.Rest().c_str();

    const std::uint16_t ownStem = StemLengthOfName(baseName.c_str());
    Require(ownStem <= baseName.size(), "a name's own stem lies within it");
    const std::size_t lastDot = baseName.find_last_of('.');
    if (lastDot != std::string::npos && lastDot < 65535) {
        Require(ownStem == lastDot, "the name splits at its last dot");
    }

    // A buffer of exactly the size given, so any byte beyond it is caught.
    std::unique_ptr<char[]> out(new char[bufferSize == 0 ? 1 : bufferSize]);
    const bool built = BuildFollowUpName(baseName.c_str(), stemLength, postfix.c_str(), counter,
                                         out.get(), bufferSize);
    const std::string digits = std::to_string(counter);
    const std::size_t expectedLength = baseName.size() + postfix.size() + digits.size();
    Require(built == (expectedLength < bufferSize), "a name is built exactly when it fits");
    if (bufferSize == 0) {
        return;
    }
    const std::string name = out.get();
    if (!built) {
        Require(name.empty(), "a name that does not fit is never cut");
        return;
    }
    Require(name.size() == expectedLength, "the name is stem, postfix, counter and tail");
    Require(name.size() <= MaxFollowUpNameLength(baseName.c_str(), postfix.c_str()),
            "the bound the controller checks holds");
    const std::size_t stem = stemLength < baseName.size() ? stemLength : baseName.size();
    Require(name.compare(0, stem, baseName, 0, stem) == 0, "the stem comes first");
    Require(name.compare(stem, postfix.size(), postfix) == 0, "then the postfix");
    Require(name.compare(stem + postfix.size(), digits.size(), digits) == 0, "then the counter");
    Require(
        name.compare(stem + postfix.size() + digits.size(), std::string::npos, baseName, stem) == 0,
        "then the tail");
    // Nothing in the name points elsewhere unless the user typed it.
    Require(name != "." && name != "..", "never a name of a folder itself");
    Require(!Contains(name, '/') || Contains(baseName, '/') || Contains(postfix, '/'),
            "no separator of its own");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    // Two words that once gave a file dialog's offsets: read still, so that
    // the saved inputs keep their meaning.
    input.Word();
    input.Word();
    CheckBuild(input);
    return 0;
}
