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
    IPP_TAG_ZERO = 0x00, // reserved: never a delimiter
    IPP_TAG_OPERATION = 0x01,
    IPP_TAG_JOB = 0x02,
    IPP_TAG_END = 0x03,
    IPP_TAG_PRINTER = 0x04,
    IPP_TAG_UNSUPPORTED_GROUP = 0x05,
    IPP_TAG_DOCUMENT = 0x09,
    IPP_TAG_FIRST_VALUE = 0x10, // below: delimiters
    IPP_TAG_UNSUPPORTED_VALUE = 0x10,
    IPP_TAG_DEFAULT = 0x11,
    IPP_TAG_UNKNOWN = 0x12,
    IPP_TAG_NO_VALUE = 0x13,
    IPP_TAG_NOT_SETTABLE = 0x15,
    IPP_TAG_DELETE_ATTRIBUTE = 0x16,
    IPP_TAG_ADMIN_DEFINE = 0x17,
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

// Operations (RFC 8011, PWG 5100.x) that the printer serves or that clients are known to send.
enum IppOperation : uint16_t {
    IPP_OP_PRINT_JOB = 0x0002,
    IPP_OP_PRINT_URI = 0x0003,
    IPP_OP_VALIDATE_JOB = 0x0004,
    IPP_OP_CREATE_JOB = 0x0005,
    IPP_OP_SEND_DOCUMENT = 0x0006,
    IPP_OP_SEND_URI = 0x0007,
    IPP_OP_CANCEL_JOB = 0x0008,
    IPP_OP_GET_JOB_ATTRIBUTES = 0x0009,
    IPP_OP_GET_JOBS = 0x000A,
    IPP_OP_GET_PRINTER_ATTRIBUTES = 0x000B,
    IPP_OP_HOLD_JOB = 0x000C,
    IPP_OP_RELEASE_JOB = 0x000D,
    IPP_OP_RESTART_JOB = 0x000E,
    IPP_OP_PAUSE_PRINTER = 0x0010,
    IPP_OP_RESUME_PRINTER = 0x0011,
    IPP_OP_PURGE_JOBS = 0x0012,
    IPP_OP_SET_PRINTER_ATTRIBUTES = 0x0013,
    IPP_OP_SET_JOB_ATTRIBUTES = 0x0014,
    IPP_OP_GET_PRINTER_SUPPORTED_VALUES = 0x0015,
    IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS = 0x0016,
    IPP_OP_CREATE_JOB_SUBSCRIPTIONS = 0x0017,
    IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES = 0x0018,
    IPP_OP_GET_SUBSCRIPTIONS = 0x0019,
    IPP_OP_RENEW_SUBSCRIPTION = 0x001A,
    IPP_OP_CANCEL_SUBSCRIPTION = 0x001B,
    IPP_OP_GET_NOTIFICATIONS = 0x001C,
    IPP_OP_CANCEL_MY_JOBS = 0x0039,
    IPP_OP_RESUBMIT_JOB = 0x003A,
    IPP_OP_CLOSE_JOB = 0x003B,
    IPP_OP_IDENTIFY_PRINTER = 0x003C,
    IPP_OP_VALIDATE_DOCUMENT = 0x003D,
};

// Status codes (RFC 8011 13.1, PWG 5100.x).
enum IppStatus : uint16_t {
    IPP_OK = 0x0000,
    IPP_OK_IGNORED_OR_SUBSTITUTED = 0x0001,
    IPP_OK_CONFLICTING = 0x0002,
    IPP_BAD_REQUEST = 0x0400,
    IPP_FORBIDDEN = 0x0401,
    IPP_NOT_AUTHENTICATED = 0x0402,
    IPP_NOT_AUTHORIZED = 0x0403,
    IPP_NOT_POSSIBLE = 0x0404,
    IPP_TIMEOUT = 0x0405,
    IPP_NOT_FOUND = 0x0406,
    IPP_GONE = 0x0407,
    IPP_TOO_LARGE = 0x0408,
    IPP_VALUE_TOO_LONG = 0x0409,
    IPP_FORMAT_NOT_SUPPORTED = 0x040A,
    IPP_ATTRIBUTES_NOT_SUPPORTED = 0x040B,
    IPP_URI_SCHEME_NOT_SUPPORTED = 0x040C,
    IPP_CHARSET_NOT_SUPPORTED = 0x040D,
    IPP_CONFLICTING_ATTRIBUTES = 0x040E,
    IPP_COMPRESSION_NOT_SUPPORTED = 0x040F,
    IPP_COMPRESSION_ERROR = 0x0410,
    IPP_DOCUMENT_FORMAT_ERROR = 0x0411,
    IPP_DOCUMENT_ACCESS_ERROR = 0x0412,
    IPP_INTERNAL_ERROR = 0x0500,
    IPP_OPERATION_NOT_SUPPORTED = 0x0501,
    IPP_SERVICE_UNAVAILABLE = 0x0502,
    IPP_VERSION_NOT_SUPPORTED = 0x0503,
    IPP_DEVICE_ERROR = 0x0504,
    IPP_TEMPORARY_ERROR = 0x0505,
    IPP_NOT_ACCEPTING_JOBS = 0x0506,
    IPP_BUSY = 0x0507,
    IPP_JOB_CANCELED = 0x0508,
    IPP_MULTIPLE_DOCUMENTS_NOT_SUPPORTED = 0x0509,
};

// Enum values of the attributes the printer answers with.
enum IppPrinterState : int32_t { IPP_PRINTER_IDLE = 3, IPP_PRINTER_PROCESSING = 4 };
enum IppFinishing : int32_t { IPP_FINISHINGS_NONE = 3 };
enum IppOrientation : int32_t { IPP_ORIENTATION_PORTRAIT = 3 };
enum IppQuality : int32_t { IPP_QUALITY_NORMAL = 4 };
enum IppResolutionUnits : uint8_t { IPP_RES_PER_INCH = 3, IPP_RES_PER_CM = 4 };

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

// Sets the response's status, and its status-message (after the charset and language) unless
// message is empty.
void SetIppStatus(IppMessage *response, uint16_t status, const std::string &message);

// Names as IPP writes them: an operation ("Print-Job"), a status ("successful-ok"), a value tag
// ("keyword") or group ("operation-attributes-tag"); null for a code this table lacks.
const char *IppOperationName(uint16_t operation);
const char *IppStatusName(uint16_t status);
const char *IppTagName(uint8_t tag);

// A value as readable text: texts quoted (a byte that is not UTF-8, a control character, quote
// or backslash escaped as \xNN, \" or \\), numbers in decimal, resolutions as 300x300dpi,
// ranges as 1-9, dates as ISO 8601, collections as {member=value ...}.
std::string IppValueText(const IppValue &value);
