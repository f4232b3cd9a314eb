#include "common/win32.h"

#include "common/delivered_name.h"

int FormatDeliveredName(int number, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    int length = number == 1 ? snprintf(buffer, size, "%s.pdf", kDeliveredPrefix)
                             : snprintf(buffer, size, "%s (%d).pdf", kDeliveredPrefix, number);
    if (number < 1 || number > kDeliveredNameLast || length < 0 || (size_t)length >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

// Reads the number, then formats it again and compares, so that the one rule above decides.
int ParseDeliveredName(const char *name) {
    int number = 1;
    const char *open = strchr(name, '(');
    if (open) {
        number = 0;
        for (const char *digit = open + 1; *digit >= '0' && *digit <= '9' && number <= 999; ++digit)
            number = number * 10 + (*digit - '0');
    }
    char candidate[32];
    if (!FormatDeliveredName(number, candidate, sizeof candidate))
        return 0;
    for (size_t i = 0;; ++i) {
        char a = name[i], b = candidate[i];
        a = (a >= 'A' && a <= 'Z') ? (char)(a - 'A' + 'a') : a;
        b = (b >= 'A' && b <= 'Z') ? (char)(b - 'A' + 'a') : b;
        if (a != b)
            return 0;
        if (a == '\0')
            return number;
    }
}
