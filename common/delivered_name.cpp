#include "common/win32.h"

#include "common/delivered_name.h"

namespace {

// The ASCII letter in lower case; every other byte as it is.
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// Whether the first length bytes of a and b are the same, ASCII letters in any case.
bool SameStart(const char *a, const char *b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// Length of the UTF-8 sequence that starts with lead, or 0 for a byte that starts none. The
// title was made valid UTF-8 when it was read; a stray byte counts as a character of its own.
size_t SequenceLength(unsigned char lead) {
    return lead < 0x80                   ? 1
           : lead >= 0xF0 && lead < 0xF8 ? 4
           : lead >= 0xE0                ? 3
           : lead >= 0xC0                ? 2
                                         : 1;
}

bool IsWhiteSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsForbidden(unsigned char c) {
    return c < 0x20 || c == 0x7F || strchr("\\/:*?\"<>|", c) != nullptr;
}

// Trims blanks and dots from both ends of the length bytes at text; returns the new length and
// moves *start past what went at the front.
size_t Trim(const char *text, size_t length, size_t *start) {
    while (*start < length && (text[*start] == ' ' || text[*start] == '.'))
        ++*start;
    while (length > *start && (text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    return length;
}

// Whether the part of name before its first dot is a reserved device name of Windows.
bool IsReservedDeviceName(const char *name, size_t *stemLength) {
    const char *dot = strchr(name, '.');
    size_t stem = dot ? (size_t)(dot - name) : strlen(name);
    *stemLength = stem;
    static const char *const fixed[] = {"con", "prn", "aux", "nul"};
    for (const char *reserved : fixed)
        if (stem == 3 && SameStart(name, reserved, 3))
            return true;
    return stem == 4 && (SameStart(name, "com", 3) || SameStart(name, "lpt", 3)) &&
           name[3] >= '1' && name[3] <= '9';
}

} // namespace

int MakeDocumentName(const char *title, char *name, size_t size) {
    if (name == nullptr || size == 0)
        return 0;
    char made[1024];
    size_t length = 0;
    bool blank = false;
    // Characters replaced and white space made one blank; no character grows, and a title
    // longer than the area (titles are at most kPageTitleBytes) is looked at only that far.
    for (const char *at = title ? title : ""; *at && length + 5 < sizeof made;) {
        unsigned char c = (unsigned char)*at;
        if (IsWhiteSpace(c)) {
            blank = true;
            ++at;
            continue;
        }
        if (blank && length > 0)
            made[length++] = ' ';
        blank = false;
        size_t sequence = SequenceLength(c);
        for (size_t i = 1; i < sequence; ++i)
            if (((unsigned char)at[i] & 0xC0) != 0x80)
                sequence = 1; // cut short: the lead byte alone, the rest as what it is
        bool c1Control = sequence == 2 && c == 0xC2 && (unsigned char)at[1] < 0xA0;
        if (sequence == 1 || c1Control) {
            made[length++] = IsForbidden(c) || c1Control ? '_' : (char)c;
        } else {
            memcpy(made + length, at, sequence);
            length += sequence;
        }
        at += sequence;
    }
    made[length] = '\0';
    // The end is trimmed first, so that a title of ".pdf" alone keeps its extension's dot.
    while (length > 0 && (made[length - 1] == ' ' || made[length - 1] == '.'))
        --length;
    if (length >= 4 && SameStart(made + length - 4, ".pdf", 4))
        length -= 4;
    size_t start = 0;
    length = Trim(made, length, &start);
    // At most the kept number of characters, cut between two of them.
    size_t end = start;
    for (size_t kept = 0; end < length && kept < kDocumentNameCharacters; ++kept) {
        size_t next = end + SequenceLength((unsigned char)made[end]);
        if (next > length || next - start > kDocumentNameBytes)
            break;
        end = next;
    }
    length = Trim(made, end, &start);
    made[length] = '\0';
    const char *text = made + start;
    if (*text == '\0')
        text = kDeliveredPrefix;
    size_t stem = 0;
    int written = IsReservedDeviceName(text, &stem)
                      ? snprintf(name, size, "%.*s_%s", (int)stem, text, text + stem)
                      : snprintf(name, size, "%s", text);
    if (written < 0 || (size_t)written >= size) {
        name[0] = '\0';
        return 0;
    }
    return 1;
}

int FormatDeliveredName(const char *base, int number, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    int length = number == 1 ? snprintf(buffer, size, "%s.pdf", base)
                             : snprintf(buffer, size, "%s (%d).pdf", base, number);
    if (number < 1 || number > kDeliveredNameLast || length < 0 || (size_t)length >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

// Reads the number behind the base, then formats it again and compares, so that the one rule
// above decides.
int ParseDeliveredName(const char *base, const char *name) {
    size_t baseLength = strlen(base);
    if (strlen(name) < baseLength || !SameStart(name, base, baseLength))
        return 0;
    int number = 1;
    const char *open = name + baseLength;
    if (open[0] == ' ' && open[1] == '(') {
        number = 0;
        for (const char *digit = open + 2; *digit >= '0' && *digit <= '9' && number <= 999; ++digit)
            number = number * 10 + (*digit - '0');
    }
    char candidate[kDeliveredNameSize];
    if (!FormatDeliveredName(base, number, candidate, sizeof candidate))
        return 0;
    return SameDeliveredName(name, candidate) ? number : 0;
}

int SameDeliveredName(const char *a, const char *b) {
    for (size_t i = 0;; ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return 0;
        if (a[i] == '\0')
            return 1;
    }
}

int IsDeliveredName(const char *name) {
    size_t length = strlen(name);
    if (length < 5 || length >= kDeliveredNameSize || !SameStart(name + length - 4, ".pdf", 4))
        return 0;
    char base[kDeliveredNameSize], made[kDeliveredNameSize];
    memcpy(base, name, length - 4);
    base[length - 4] = '\0';
    // "<name> (N)": the base is what stands before the last " (", when the rest is a number.
    char *open = strrchr(base, '(');
    if (open && open > base + 1 && open[-1] == ' ' && base[length - 5] == ')') {
        char stem[kDeliveredNameSize];
        memcpy(stem, base, (size_t)(open - 1 - base));
        stem[open - 1 - base] = '\0';
        if (ParseDeliveredName(stem, name) > 1 && MakeDocumentName(stem, made, sizeof made) &&
            strcmp(made, stem) == 0)
            return 1;
    }
    return MakeDocumentName(base, made, sizeof made) && strcmp(made, base) == 0;
}
