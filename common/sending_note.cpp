#include "common/win32.h"

#include "common/sending_note.h"

#include <cerrno>

#include "common/delivered_name.h"
#include "common/durable_file.h"
#include "common/file_delete.h"
#include "common/spool_contract.h"

int WriteSendingNote(const char *name) {
    return WriteFileAnew(kSendingNote, name, strlen(name)) == ERROR_SUCCESS;
}

int ReadSendingNote(char *name, size_t size) {
    name[0] = '\0';
    FILE *file = fopen(kSendingNote, "rb");
    if (!file)
        return errno == ENOENT ? 0 : -1;
    size_t got = fread(name, 1, size - 1, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    name[got] = '\0';
    if (failed)
        return -1;
    if (!ParseDeliveredName(name))
        name[0] = '\0';
    return 1;
}

void DeleteSendingNote() {
    DeleteFileRetrying(kSendingNote);
}
