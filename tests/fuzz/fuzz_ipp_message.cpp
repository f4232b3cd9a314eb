// libFuzzer target for the IPP codec: any input is parsed without reading past it; what parses
// is emitted, and the emitted message parses to the same message again.
#include "printer/ipp.h"

#include <cstdlib>
#include <cstring>
#include <vector>

// One parse of one input, and the round trip of what it accepted.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<unsigned char> block(data, data + size); // exactly the input's size
    IppMessage message;
    size_t used = 0;
    IppParseResult result = ParseIppMessage(block.data(), block.size(), &message, &used);
    if (result != IPP_PARSE_OK)
        return 0;
    if (used > size || used > kIppMaxAttributeBytes)
        std::abort();
    std::string once;
    EmitIppMessage(message, &once);
    IppMessage again;
    size_t usedAgain = 0;
    if (ParseIppMessage((const unsigned char *)once.data(), once.size(), &again, &usedAgain) !=
            IPP_PARSE_OK ||
        usedAgain != once.size())
        std::abort();
    std::string twice;
    EmitIppMessage(again, &twice);
    if (twice != once)
        std::abort();
    return 0;
}
