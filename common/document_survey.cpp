#include "common/win32.h"

#include "common/document_survey.h"

namespace {

const size_t kCompareBlock = 65536;

// The local PDF and a block for each side; released on every way out.
struct ComparedBlocks {
    FILE *local = nullptr;
    unsigned char *blocks[2] = {nullptr, nullptr};
    ~ComparedBlocks() {
        if (local)
            fclose(local);
        free(blocks[0]);
        free(blocks[1]);
    }
};

} // namespace

int NoteDocument(DocumentSurvey *survey, int number, bool noted, uint64_t size, const void *id,
                 size_t idBytes) {
    if (number >= 1 && number <= kDeliveredNameLast)
        survey->taken[number] = true;
    else
        number = 0;
    if (!noted)
        return 1;
    SurveyedDocument *grown = static_cast<SurveyedDocument *>(
        realloc(survey->documents, (survey->count + 1) * sizeof(SurveyedDocument)));
    if (!grown)
        return 0;
    survey->documents = grown;
    void *held = malloc(idBytes ? idBytes : 1);
    if (!held)
        return 0;
    memcpy(held, id, idBytes);
    grown[survey->count++] = {held, number, size};
    return 1;
}

int ChooseFreeName(const DocumentSurvey &survey, char *name, size_t size) {
    for (int number = 1; number <= kDeliveredNameLast; ++number)
        if (!survey.taken[number] && FormatDeliveredName(survey.base, number, name, size))
            return number;
    return 0;
}

void ReleaseDocumentSurvey(DocumentSurvey *survey) {
    for (int i = 0; i < survey->count; ++i)
        free(survey->documents[i].id);
    free(survey->documents);
    survey->documents = nullptr;
    survey->count = 0;
}

Likeness CompareWithPdf(const char *fileName, uint64_t size, DocumentReader read, void *context) {
    ComparedBlocks compared;
    compared.local = fopen(fileName, "rb");
    compared.blocks[0] = static_cast<unsigned char *>(malloc(kCompareBlock));
    compared.blocks[1] = static_cast<unsigned char *>(malloc(kCompareBlock));
    if (!compared.local || !compared.blocks[0] || !compared.blocks[1])
        return LIKE_NO_PDF;
    for (uint64_t done = 0; done < size;) {
        size_t piece = size - done < kCompareBlock ? (size_t)(size - done) : kCompareBlock;
        size_t got = 0;
        if (read(context, compared.blocks[1], piece, &got) != 0)
            return LIKE_NO_COPY;
        if (fread(compared.blocks[0], 1, piece, compared.local) != piece)
            return LIKE_NO_PDF;
        if (memcmp(compared.blocks[0], compared.blocks[1], got < piece ? got : piece) != 0)
            return LIKE_DIFFERENT;
        if (got < piece) // shorter than its listing says: whatever it is, not the whole PDF
            return LIKE_START;
        done += piece;
    }
    return LIKE_WHOLE;
}
