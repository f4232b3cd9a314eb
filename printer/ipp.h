// The IPP/2.0 message codec: a request or response as plain records (groups of attributes,
// each with its values, collections nested), parsed strictly from untrusted bytes and emitted
// back. Parsing never allocates more than the bytes it is given: every size it reads is checked
// against what is there, and the attribute section may not pass 64 KiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Delimiter and value tags.
enum IppTag : uint8_t {
    IPP_TAG_OPERATION = 0x01,
    IPP_TAG_JOB = 0x02,
    IPP_TAG_END = 0x03,
    IPP_TAG_PRINTER = 0x04,
    IPP_TAG_UNSUPPORTED_GROUP = 0x05,
    IPP_TAG_UNSUPPORTED_VALUE = 0x10,
    IPP_TAG_UNKNOWN = 0x12,
    IPP_TAG_NO_VALUE = 0x13,
    IPP_TAG_INTEGER = 0x21,
    IPP_TAG_BOOLEAN = 0x22,
    IPP_TAG_ENUM = 0x23,
    IPP_TAG_OCTET_STRING = 0x30,
    IPP_TAG_DATE = 0x31,
    IPP_TAG_RESOLUTION = 0x32,
    IPP_TAG_RANGE = 0x33,
    IPP_TAG_BEGIN_COLLECTION = 0x34,
    IPP_TAG_TEXT_LANGUAGE = 0x35,
    IPP_TAG_NAME_LANGUAGE = 0x36,
    IPP_TAG_END_COLLECTION = 0x37,
    IPP_TAG_TEXT = 0x41,
    IPP_TAG_NAME = 0x42,
    IPP_TAG_KEYWORD = 0x44,
    IPP_TAG_URI = 0x45,
    IPP_TAG_URI_SCHEME = 0x46,
    IPP_TAG_CHARSET = 0x47,
    IPP_TAG_LANGUAGE = 0x48,
    IPP_TAG_MIME_TYPE = 0x49,
    IPP_TAG_MEMBER_NAME = 0x4A,
};

struct IppAttribute;

// One value: its tag and its bytes as sent (integers big-endian), or a collection's members.
struct IppValue {
    uint8_t tag = 0;
    std::string bytes;
    std::vector<IppAttribute> members;
};

// One attribute of a group (group 0 for a collection member).
struct IppAttribute {
    uint8_t group = 0;
    bool newGroup = false; // a group begins here even if the one before has the same tag
    std::string name;
    std::vector<IppValue> values;
};

// A request (code: the operation) or a response (code: the status).
struct IppMessage {
    uint8_t major = 2, minor = 0;
    uint16_t code = 0;
    uint32_t requestId = 0;
    std::vector<IppAttribute> attributes; // in the order sent; groups follow each other
};

// The most attribute bytes (header and end tag included) that a request may carry.
const size_t kIppMaxAttributeBytes = 64 * 1024;
// How deeply collections may nest.
const int kIppMaxCollectionDepth = 8;

enum IppParseResult {
    IPP_PARSE_OK = 0,
    IPP_PARSE_MORE = 1,      // cut short: the message needs more bytes
    IPP_PARSE_BAD = 2,       // a bad tag, length or structure
    IPP_PARSE_TOO_LARGE = 3, // no end of the attributes within kIppMaxAttributeBytes
};

// Parses the header and attribute groups at the start of bytes; on IPP_PARSE_OK *used is the
// offset of the document data that follows the end tag.
IppParseResult ParseIppMessage(const unsigned char *bytes, size_t count, IppMessage *message,
                               size_t *used);

// Appends the encoded message (header, groups, end tag) to out.
void EmitIppMessage(const IppMessage &message, std::string *out);

// Builders: a new attribute at the end of the message (or of a collection), and its values.
IppAttribute *AddIppAttribute(IppMessage *message, uint8_t group, const std::string &name);
IppAttribute *AddIppMember(IppValue *collection, const std::string &name);
void AddIppInteger(IppAttribute *attribute, uint8_t tag, int32_t value);
void AddIppBoolean(IppAttribute *attribute, bool value);
void AddIppText(IppAttribute *attribute, uint8_t tag, const std::string &text);
void AddIppResolution(IppAttribute *attribute, int32_t x, int32_t y, uint8_t units);
void AddIppRange(IppAttribute *attribute, int32_t low, int32_t high);
void AddIppOutOfBand(IppAttribute *attribute, uint8_t tag);
IppValue *AddIppCollection(IppAttribute *attribute);

// Readers: the first attribute of that name in the group (any group for 0), or null.
const IppAttribute *FindIppAttribute(const IppMessage &message, uint8_t group,
                                     const std::string &name);
const IppAttribute *FindIppMember(const IppValue &collection, const std::string &name);
// An integer, enum or boolean value; fallback for any other tag.
int32_t IppValueInteger(const IppValue &value, int32_t fallback);
