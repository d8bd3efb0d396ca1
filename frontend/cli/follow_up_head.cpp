#include "follow_up_head.h"

#include <cstring>

#include "cli_files.h"

FollowUpHead LookAtHead(const std::string& path, const HeaderTemplate& headerTemplate) {
    unsigned char head[kTemplateMaxLength];
    std::size_t count = 0;
    switch (ReadFileHead(path.c_str(), head, headerTemplate.length, &count)) {
    case ReadHeadResult::Missing:
        return FollowUpHead::Missing;
    case ReadHeadResult::NotAFile:
        return FollowUpHead::NotAFile;
    case ReadHeadResult::Busy:
        return FollowUpHead::Busy;
    case ReadHeadResult::Failed:
        return FollowUpHead::Unreadable;
    case ReadHeadResult::Read:
        break;
    }
    if (count == 0) {
        return FollowUpHead::Empty;
    }
    const bool same =
        count == headerTemplate.length && std::memcmp(head, headerTemplate.bytes, count) == 0;
    return same ? FollowUpHead::AlreadyRepaired : FollowUpHead::NeedsRepair;
}
