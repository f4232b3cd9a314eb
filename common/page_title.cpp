#include "common/win32.h"

#include "common/page_title.h"
#include "common/spool_contract.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// Length of the valid UTF-8 sequence at bytes (count of them there), or 0 when none starts
// there.
size_t ValidSequence(const unsigned char *bytes, size_t count) {
    unsigned char lead = bytes[0];
    if (lead < 0x80)
        return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || length > count)
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((lead == 0xE0 && bytes[1] < 0xA0) || (lead == 0xED && bytes[1] >= 0xA0) ||
        (lead == 0xF0 && bytes[1] < 0x90) || (lead == 0xF4 && bytes[1] >= 0x90))
        return 0;
    return length;
}

} // namespace

size_t CleanTitle(const char *text, size_t count, char *title, size_t size) {
    if (title == nullptr || size == 0)
        return 0;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    size_t room = size - 1 < (size_t)kPageTitleBytes ? size - 1 : (size_t)kPageTitleBytes;
    size_t length = 0;
    for (size_t at = 0; bytes && at < count;) {
        size_t sequence = ValidSequence(bytes + at, count - at);
        const char *piece = sequence ? text + at : kReplacement;
        size_t pieceLength = sequence ? sequence : sizeof kReplacement - 1;
        at += sequence ? sequence : 1;
        if (sequence == 1 && bytes[at - 1] == '\0')
            continue;
        if (length + pieceLength > room)
            break;
        memcpy(title + length, piece, pieceLength);
        length += pieceLength;
    }
    title[length] = '\0';
    return length;
}
