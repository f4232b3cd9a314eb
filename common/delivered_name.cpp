#include "common/win32.h"

#include "common/delivered_name.h"

int FormatDeliveredName(int number, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    int length = number == 1 ? snprintf(buffer, size, "VellumTransit.pdf")
                             : snprintf(buffer, size, "VellumTransit (%d).pdf", number);
    if (number < 1 || number > kDeliveredNameLast || length < 0 || (size_t)length >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}
