#include "common/win32.h"

#include "driver/natural_order.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// NTFS's own order: byte by byte on the upper-case forms.
int CompareUpperCase(const char *a, const char *b) {
    for (;; ++a, ++b) {
        unsigned char x = (unsigned char)Upper(*a), y = (unsigned char)Upper(*b);
        if (x != y || x == 0)
            return (x > y) - (x < y);
    }
}

} // namespace

// Compares digit runs by value (any length: leading zeros dropped, then longer is larger,
// then digit by digit). Names equal in that order fall back to NTFS order and then to the
// bytes, so the order is total and a sort gives the same result on every run.
int CompareNaturally(const char *a, const char *b) {
    const char *x = a, *y = b;
    while (*x && *y) {
        if (IsDigit(*x) && IsDigit(*y)) {
            while (*x == '0' && IsDigit(x[1]))
                ++x;
            while (*y == '0' && IsDigit(y[1]))
                ++y;
            size_t lengthX = 0, lengthY = 0;
            while (IsDigit(x[lengthX]))
                ++lengthX;
            while (IsDigit(y[lengthY]))
                ++lengthY;
            if (lengthX != lengthY)
                return lengthX < lengthY ? -1 : 1;
            int order = memcmp(x, y, lengthX);
            if (order != 0)
                return order;
            x += lengthX;
            y += lengthY;
            continue;
        }
        unsigned char cx = (unsigned char)Upper(*x), cy = (unsigned char)Upper(*y);
        if (cx != cy)
            return cx < cy ? -1 : 1;
        ++x;
        ++y;
    }
    if (*x || *y)
        return *x ? 1 : -1;
    int order = CompareUpperCase(a, b);
    return order != 0 ? order : strcmp(a, b);
}
