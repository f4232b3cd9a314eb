// The IPP message codec.
#include "printer/ipp.h"

#include <cstdio>

namespace {

// A big-endian 16-bit number.
uint16_t Read16(const unsigned char *p) {
    return (uint16_t)(p[0] << 8 | p[1]);
}

// Appends a big-endian 16-bit number.
void Put16(std::string *out, size_t value) {
    out->push_back((char)(value >> 8 & 0xFF));
    out->push_back((char)(value & 0xFF));
}

// Appends a big-endian 32-bit number.
void Put32(std::string *out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back((char)(value >> shift & 0xFF));
}

// The length a value of tag must have, or -1 when any length up to 65535 will do; -2 for a
// tag this printer does not accept (reserved, extension or unknown).
int FixedLength(uint8_t tag) {
    switch (tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM:
        return 4;
    case IPP_TAG_BOOLEAN:
        return 1;
    case IPP_TAG_DATE:
        return 11;
    case IPP_TAG_RESOLUTION:
        return 9;
    case IPP_TAG_RANGE:
        return 8;
    case IPP_TAG_BEGIN_COLLECTION:
    case IPP_TAG_END_COLLECTION:
    case IPP_TAG_UNSUPPORTED_VALUE:
    case IPP_TAG_DEFAULT:
    case IPP_TAG_UNKNOWN:
    case IPP_TAG_NO_VALUE:
    case IPP_TAG_NOT_SETTABLE:
    case IPP_TAG_DELETE_ATTRIBUTE:
    case IPP_TAG_ADMIN_DEFINE:
        return tag == IPP_TAG_BEGIN_COLLECTION || tag == IPP_TAG_END_COLLECTION ? -1 : 0;
    case IPP_TAG_OCTET_STRING:
    case IPP_TAG_TEXT_LANGUAGE:
    case IPP_TAG_NAME_LANGUAGE:
    case IPP_TAG_TEXT:
    case IPP_TAG_NAME:
    case IPP_TAG_KEYWORD:
    case IPP_TAG_URI:
    case IPP_TAG_URI_SCHEME:
    case IPP_TAG_CHARSET:
    case IPP_TAG_LANGUAGE:
    case IPP_TAG_MIME_TYPE:
    case IPP_TAG_MEMBER_NAME:
        return -1;
    default:
        return -2;
    }
}

// One encoded attribute field: tag, name and value, as read from the input.
struct Field {
    uint8_t tag = 0;
    std::string name;
    const unsigned char *value = nullptr;
    uint16_t valueLength = 0;
};

// Reads the input a field at a time, keeping the position and the reason it stopped.
struct Reader {
    const unsigned char *bytes;
    size_t count;
    size_t at;
    IppParseResult stop;
};

// Reads the next field at r->at (the tag byte must be a value tag); false when it is cut short
// or malformed, with r->stop saying which.
bool ReadField(Reader *r, Field *field) {
    if (r->count - r->at < 3)
        return r->stop = IPP_PARSE_MORE, false;
    field->tag = r->bytes[r->at];
    size_t nameLength = Read16(r->bytes + r->at + 1);
    if (r->count - r->at - 3 < nameLength + 2)
        return r->stop = IPP_PARSE_MORE, false;
    field->name.assign((const char *)r->bytes + r->at + 3, nameLength);
    field->valueLength = Read16(r->bytes + r->at + 3 + nameLength);
    size_t valueAt = r->at + 5 + nameLength;
    if (r->count - valueAt < field->valueLength)
        return r->stop = IPP_PARSE_MORE, false;
    field->value = r->bytes + valueAt;
    int fixed = FixedLength(field->tag);
    bool lengthOk = fixed == -1 || fixed == field->valueLength;
    if (field->tag == IPP_TAG_BOOLEAN && lengthOk && field->value[0] > 1)
        lengthOk = false;
    if (field->tag == IPP_TAG_END_COLLECTION && (nameLength != 0 || field->valueLength != 0))
        lengthOk = false;
    if (fixed == -2 || !lengthOk)
        return r->stop = IPP_PARSE_BAD, false;
    r->at = valueAt + field->valueLength;
    return true;
}

bool ReadCollection(Reader *r, IppValue *collection, int depth);

// Stores a field's value into value, reading a whole collection when it begins one.
bool ReadValue(Reader *r, const Field &field, IppValue *value, int depth) {
    value->tag = field.tag;
    if (field.tag == IPP_TAG_MEMBER_NAME || field.tag == IPP_TAG_END_COLLECTION)
        return r->stop = IPP_PARSE_BAD, false; // only inside a collection, where it is read
    if (field.tag == IPP_TAG_BEGIN_COLLECTION)
        return ReadCollection(r, value, depth + 1);
    value->bytes.assign((const char *)field.value, field.valueLength);
    return true;
}

// Reads the members of a collection up to and including its end.
bool ReadCollection(Reader *r, IppValue *collection, int depth) {
    if (depth > kIppMaxCollectionDepth)
        return r->stop = IPP_PARSE_BAD, false;
    for (;;) {
        Field field;
        if (!ReadField(r, &field))
            return false;
        if (field.tag == IPP_TAG_END_COLLECTION)
            return true;
        // A member begins with its name, then its values follow without names.
        if (field.tag != IPP_TAG_MEMBER_NAME || !field.name.empty() || field.valueLength == 0)
            return r->stop = IPP_PARSE_BAD, false;
        IppAttribute member;
        member.name.assign((const char *)field.value, field.valueLength);
        for (;;) {
            size_t before = r->at;
            Field valueField;
            if (!ReadField(r, &valueField))
                return false;
            if (valueField.tag == IPP_TAG_MEMBER_NAME || valueField.tag == IPP_TAG_END_COLLECTION) {
                r->at = before; // the next member, or the end: read again by the outer loop
                break;
            }
            if (!valueField.name.empty())
                return r->stop = IPP_PARSE_BAD, false;
            member.values.emplace_back();
            if (!ReadValue(r, valueField, &member.values.back(), depth))
                return false;
        }
        if (member.values.empty())
            return r->stop = IPP_PARSE_BAD, false;
        collection->members.push_back(std::move(member));
    }
}

void EmitValue(const IppValue &value, const std::string &name, std::string *out);

// One member of a collection: its name, then each value without a name.
void EmitMember(const IppAttribute &member, std::string *out) {
    out->push_back((char)IPP_TAG_MEMBER_NAME);
    Put16(out, 0);
    Put16(out, member.name.size());
    *out += member.name;
    for (const IppValue &value : member.values)
        EmitValue(value, "", out);
}

// Appends one value under name (empty for an additional value), a collection with its members.
void EmitValue(const IppValue &value, const std::string &name, std::string *out) {
    out->push_back((char)value.tag);
    Put16(out, name.size());
    *out += name;
    Put16(out, value.bytes.size());
    *out += value.bytes;
    if (value.tag != IPP_TAG_BEGIN_COLLECTION)
        return;
    for (const IppAttribute &member : value.members)
        EmitMember(member, out);
    out->push_back((char)IPP_TAG_END_COLLECTION);
    Put16(out, 0);
    Put16(out, 0);
}

// A big-endian 32-bit number.
uint32_t Read32(const unsigned char *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// The length of the UTF-8 sequence at p (at most left bytes), or 0 when it is not one.
size_t Utf8Length(const unsigned char *p, size_t left) {
    if (p[0] < 0x80)
        return 1;
    size_t length = p[0] >= 0xC2 && p[0] <= 0xDF   ? 2
                    : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
                    : p[0] >= 0xF0 && p[0] <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || length > left)
        return 0;
    for (size_t i = 1; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] >= 0xA0) ||
        (p[0] == 0xF0 && p[1] < 0x90) || (p[0] == 0xF4 && p[1] >= 0x90))
        return 0;
    return length;
}

// Bytes as a quoted text, every byte that is not printable UTF-8 as \xNN.
std::string Quoted(const std::string &bytes) {
    static const char kHex[] = "0123456789abcdef";
    const unsigned char *p = (const unsigned char *)bytes.data();
    std::string out = "\"";
    for (size_t at = 0; at < bytes.size();) {
        size_t length = Utf8Length(p + at, bytes.size() - at);
        if (length == 1 && p[at] >= 0x20 && p[at] != 0x7F && p[at] != '"' && p[at] != '\\') {
            out += (char)p[at++];
        } else if (length > 1) {
            out.append(bytes, at, length);
            at += length;
        } else if (p[at] == '"' || p[at] == '\\') {
            out += '\\';
            out += (char)p[at++];
        } else {
            out += "\\x";
            out += kHex[p[at] >> 4];
            out += kHex[p[at++] & 15];
        }
    }
    return out + "\"";
}

// A new empty value of the attribute.
IppValue *NewValue(IppAttribute *attribute, uint8_t tag) {
    attribute->values.emplace_back();
    attribute->values.back().tag = tag;
    return &attribute->values.back();
}

} // namespace

IppParseResult ParseIppMessage(const unsigned char *bytes, size_t count, IppMessage *message,
                               size_t *used) {
    // Only the first kIppMaxAttributeBytes can hold the attributes; what lies past them is
    // never looked at, so a longer message is refused however it goes on.
    bool capped = count > kIppMaxAttributeBytes;
    Reader r = {bytes, capped ? kIppMaxAttributeBytes : count, 8, IPP_PARSE_OK};
    *message = IppMessage();
    if (r.count < 8)
        return capped ? IPP_PARSE_TOO_LARGE : IPP_PARSE_MORE;
    message->major = bytes[0];
    message->minor = bytes[1];
    message->code = Read16(bytes + 2);
    message->requestId =
        (uint32_t)bytes[4] << 24 | (uint32_t)bytes[5] << 16 | (uint32_t)bytes[6] << 8 | bytes[7];
    uint8_t group = 0;
    bool groupBegins = false;
    for (;;) {
        if (r.at >= r.count) {
            r.stop = IPP_PARSE_MORE;
            break;
        }
        uint8_t tag = bytes[r.at];
        if (tag == IPP_TAG_END) {
            *used = r.at + 1;
            return IPP_PARSE_OK;
        }
        if (tag == IPP_TAG_ZERO)
            return IPP_PARSE_BAD;
        if (tag < IPP_TAG_FIRST_VALUE) {
            group = tag;
            groupBegins = true;
            ++r.at;
            continue;
        }
        Field field;
        if (!ReadField(&r, &field))
            break;
        if (group == 0)
            return IPP_PARSE_BAD; // an attribute before any group
        IppAttribute *attribute;
        if (field.name.empty()) {
            // An additional value of the attribute before it, in the same group.
            if (message->attributes.empty() || groupBegins)
                return IPP_PARSE_BAD;
            attribute = &message->attributes.back();
        } else {
            message->attributes.emplace_back();
            attribute = &message->attributes.back();
            attribute->group = group;
            attribute->newGroup = groupBegins;
            attribute->name = field.name;
            groupBegins = false;
        }
        attribute->values.emplace_back();
        if (!ReadValue(&r, field, &attribute->values.back(), 0))
            break;
    }
    if (r.stop == IPP_PARSE_MORE && capped)
        return IPP_PARSE_TOO_LARGE;
    return r.stop;
}

void EmitIppMessage(const IppMessage &message, std::string *out) {
    out->push_back((char)message.major);
    out->push_back((char)message.minor);
    Put16(out, message.code);
    Put32(out, message.requestId);
    uint8_t group = 0;
    for (const IppAttribute &attribute : message.attributes) {
        if (attribute.group != group || attribute.newGroup) {
            group = attribute.group;
            out->push_back((char)group);
        }
        for (size_t i = 0; i < attribute.values.size(); ++i)
            EmitValue(attribute.values[i], i == 0 ? attribute.name : "", out);
    }
    out->push_back((char)IPP_TAG_END);
}

IppAttribute *AddIppAttribute(IppMessage *message, uint8_t group, const std::string &name) {
    message->attributes.emplace_back();
    message->attributes.back().group = group;
    message->attributes.back().name = name;
    return &message->attributes.back();
}

IppAttribute *AddIppMember(IppValue *collection, const std::string &name) {
    collection->members.emplace_back();
    collection->members.back().name = name;
    return &collection->members.back();
}

void AddIppInteger(IppAttribute *attribute, uint8_t tag, int32_t value) {
    Put32(&NewValue(attribute, tag)->bytes, (uint32_t)value);
}

void AddIppBoolean(IppAttribute *attribute, bool value) {
    NewValue(attribute, IPP_TAG_BOOLEAN)->bytes.assign(1, value ? '\1' : '\0');
}

void AddIppText(IppAttribute *attribute, uint8_t tag, const std::string &text) {
    // A value holds at most 65535 bytes; longer texts are cut, as none of ours is.
    NewValue(attribute, tag)->bytes = text.substr(0, 65535);
}

void AddIppResolution(IppAttribute *attribute, int32_t x, int32_t y, uint8_t units) {
    IppValue *value = NewValue(attribute, IPP_TAG_RESOLUTION);
    Put32(&value->bytes, (uint32_t)x);
    Put32(&value->bytes, (uint32_t)y);
    value->bytes.push_back((char)units);
}

void AddIppRange(IppAttribute *attribute, int32_t low, int32_t high) {
    IppValue *value = NewValue(attribute, IPP_TAG_RANGE);
    Put32(&value->bytes, (uint32_t)low);
    Put32(&value->bytes, (uint32_t)high);
}

void AddIppOutOfBand(IppAttribute *attribute, uint8_t tag) {
    NewValue(attribute, tag);
}

IppValue *AddIppCollection(IppAttribute *attribute) {
    return NewValue(attribute, IPP_TAG_BEGIN_COLLECTION);
}

const IppAttribute *FindIppAttribute(const IppMessage &message, uint8_t group,
                                     const std::string &name) {
    for (const IppAttribute &attribute : message.attributes)
        if ((group == 0 || attribute.group == group) && attribute.name == name)
            return &attribute;
    return nullptr;
}

const IppAttribute *FindIppMember(const IppValue &collection, const std::string &name) {
    for (const IppAttribute &member : collection.members)
        if (member.name == name)
            return &member;
    return nullptr;
}

int32_t IppValueInteger(const IppValue &value, int32_t fallback) {
    const unsigned char *p = (const unsigned char *)value.bytes.data();
    if ((value.tag == IPP_TAG_INTEGER || value.tag == IPP_TAG_ENUM) && value.bytes.size() == 4)
        return (int32_t)((uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]);
    if (value.tag == IPP_TAG_BOOLEAN && value.bytes.size() == 1)
        return p[0];
    return fallback;
}

void SetIppStatus(IppMessage *response, uint16_t status, const std::string &message) {
    response->code = status;
    if (message.empty())
        return;
    // status-message belongs with the operation attributes, after the charset and language.
    IppAttribute attribute;
    attribute.group = IPP_TAG_OPERATION;
    attribute.name = "status-message";
    AddIppText(&attribute, IPP_TAG_TEXT, message.substr(0, 255));
    auto &attributes = response->attributes;
    for (auto at = attributes.begin(); at != attributes.end(); ++at)
        if (at->group == IPP_TAG_OPERATION && at->name == "status-message")
            return void(*at = attribute);
    size_t place = 0;
    while (place < attributes.size() && attributes[place].group == IPP_TAG_OPERATION)
        ++place;
    attributes.insert(attributes.begin() + (long)place, attribute);
}

const char *IppOperationName(uint16_t operation) {
    switch (operation) {
    case IPP_OP_PRINT_JOB:
        return "Print-Job";
    case IPP_OP_PRINT_URI:
        return "Print-URI";
    case IPP_OP_VALIDATE_JOB:
        return "Validate-Job";
    case IPP_OP_CREATE_JOB:
        return "Create-Job";
    case IPP_OP_SEND_DOCUMENT:
        return "Send-Document";
    case IPP_OP_SEND_URI:
        return "Send-URI";
    case IPP_OP_CANCEL_JOB:
        return "Cancel-Job";
    case IPP_OP_GET_JOB_ATTRIBUTES:
        return "Get-Job-Attributes";
    case IPP_OP_GET_JOBS:
        return "Get-Jobs";
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
        return "Get-Printer-Attributes";
    case IPP_OP_HOLD_JOB:
        return "Hold-Job";
    case IPP_OP_RELEASE_JOB:
        return "Release-Job";
    case IPP_OP_RESTART_JOB:
        return "Restart-Job";
    case IPP_OP_PAUSE_PRINTER:
        return "Pause-Printer";
    case IPP_OP_RESUME_PRINTER:
        return "Resume-Printer";
    case IPP_OP_PURGE_JOBS:
        return "Purge-Jobs";
    case IPP_OP_SET_PRINTER_ATTRIBUTES:
        return "Set-Printer-Attributes";
    case IPP_OP_SET_JOB_ATTRIBUTES:
        return "Set-Job-Attributes";
    case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
        return "Get-Printer-Supported-Values";
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
        return "Create-Printer-Subscriptions";
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
        return "Create-Job-Subscriptions";
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
        return "Get-Subscription-Attributes";
    case IPP_OP_GET_SUBSCRIPTIONS:
        return "Get-Subscriptions";
    case IPP_OP_RENEW_SUBSCRIPTION:
        return "Renew-Subscription";
    case IPP_OP_CANCEL_SUBSCRIPTION:
        return "Cancel-Subscription";
    case IPP_OP_GET_NOTIFICATIONS:
        return "Get-Notifications";
    case IPP_OP_CANCEL_MY_JOBS:
        return "Cancel-My-Jobs";
    case IPP_OP_RESUBMIT_JOB:
        return "Resubmit-Job";
    case IPP_OP_CLOSE_JOB:
        return "Close-Job";
    case IPP_OP_IDENTIFY_PRINTER:
        return "Identify-Printer";
    case IPP_OP_VALIDATE_DOCUMENT:
        return "Validate-Document";
    }
    return nullptr;
}

const char *IppStatusName(uint16_t status) {
    switch (status) {
    case IPP_OK:
        return "successful-ok";
    case IPP_OK_IGNORED_OR_SUBSTITUTED:
        return "successful-ok-ignored-or-substituted-attributes";
    case IPP_OK_CONFLICTING:
        return "successful-ok-conflicting-attributes";
    case IPP_BAD_REQUEST:
        return "client-error-bad-request";
    case IPP_FORBIDDEN:
        return "client-error-forbidden";
    case IPP_NOT_AUTHENTICATED:
        return "client-error-not-authenticated";
    case IPP_NOT_AUTHORIZED:
        return "client-error-not-authorized";
    case IPP_NOT_POSSIBLE:
        return "client-error-not-possible";
    case IPP_TIMEOUT:
        return "client-error-timeout";
    case IPP_NOT_FOUND:
        return "client-error-not-found";
    case IPP_GONE:
        return "client-error-gone";
    case IPP_TOO_LARGE:
        return "client-error-request-entity-too-large";
    case IPP_VALUE_TOO_LONG:
        return "client-error-request-value-too-long";
    case IPP_FORMAT_NOT_SUPPORTED:
        return "client-error-document-format-not-supported";
    case IPP_ATTRIBUTES_NOT_SUPPORTED:
        return "client-error-attributes-or-values-not-supported";
    case IPP_URI_SCHEME_NOT_SUPPORTED:
        return "client-error-uri-scheme-not-supported";
    case IPP_CHARSET_NOT_SUPPORTED:
        return "client-error-charset-not-supported";
    case IPP_CONFLICTING_ATTRIBUTES:
        return "client-error-conflicting-attributes";
    case IPP_COMPRESSION_NOT_SUPPORTED:
        return "client-error-compression-not-supported";
    case IPP_COMPRESSION_ERROR:
        return "client-error-compression-error";
    case IPP_DOCUMENT_FORMAT_ERROR:
        return "client-error-document-format-error";
    case IPP_DOCUMENT_ACCESS_ERROR:
        return "client-error-document-access-error";
    case IPP_INTERNAL_ERROR:
        return "server-error-internal-error";
    case IPP_OPERATION_NOT_SUPPORTED:
        return "server-error-operation-not-supported";
    case IPP_SERVICE_UNAVAILABLE:
        return "server-error-service-unavailable";
    case IPP_VERSION_NOT_SUPPORTED:
        return "server-error-version-not-supported";
    case IPP_DEVICE_ERROR:
        return "server-error-device-error";
    case IPP_TEMPORARY_ERROR:
        return "server-error-temporary-error";
    case IPP_NOT_ACCEPTING_JOBS:
        return "server-error-not-accepting-jobs";
    case IPP_BUSY:
        return "server-error-busy";
    case IPP_JOB_CANCELED:
        return "server-error-job-canceled";
    case IPP_MULTIPLE_DOCUMENTS_NOT_SUPPORTED:
        return "server-error-multiple-document-jobs-not-supported";
    }
    return nullptr;
}

const char *IppTagName(uint8_t tag) {
    switch (tag) {
    case IPP_TAG_OPERATION:
        return "operation-attributes-tag";
    case IPP_TAG_JOB:
        return "job-attributes-tag";
    case IPP_TAG_PRINTER:
        return "printer-attributes-tag";
    case IPP_TAG_UNSUPPORTED_GROUP:
        return "unsupported-attributes-tag";
    case IPP_TAG_DOCUMENT:
        return "document-attributes-tag";
    case IPP_TAG_UNSUPPORTED_VALUE:
        return "unsupported";
    case IPP_TAG_DEFAULT:
        return "default";
    case IPP_TAG_UNKNOWN:
        return "unknown";
    case IPP_TAG_NO_VALUE:
        return "no-value";
    case IPP_TAG_NOT_SETTABLE:
        return "not-settable";
    case IPP_TAG_DELETE_ATTRIBUTE:
        return "delete-attribute";
    case IPP_TAG_ADMIN_DEFINE:
        return "admin-define";
    case IPP_TAG_INTEGER:
        return "integer";
    case IPP_TAG_BOOLEAN:
        return "boolean";
    case IPP_TAG_ENUM:
        return "enum";
    case IPP_TAG_OCTET_STRING:
        return "octetString";
    case IPP_TAG_DATE:
        return "dateTime";
    case IPP_TAG_RESOLUTION:
        return "resolution";
    case IPP_TAG_RANGE:
        return "rangeOfInteger";
    case IPP_TAG_BEGIN_COLLECTION:
        return "collection";
    case IPP_TAG_TEXT_LANGUAGE:
        return "textWithLanguage";
    case IPP_TAG_NAME_LANGUAGE:
        return "nameWithLanguage";
    case IPP_TAG_TEXT:
        return "textWithoutLanguage";
    case IPP_TAG_NAME:
        return "nameWithoutLanguage";
    case IPP_TAG_KEYWORD:
        return "keyword";
    case IPP_TAG_URI:
        return "uri";
    case IPP_TAG_URI_SCHEME:
        return "uriScheme";
    case IPP_TAG_CHARSET:
        return "charset";
    case IPP_TAG_LANGUAGE:
        return "naturalLanguage";
    case IPP_TAG_MIME_TYPE:
        return "mimeMediaType";
    case IPP_TAG_MEMBER_NAME:
        return "memberAttrName";
    }
    return nullptr;
}

std::string IppValueText(const IppValue &value) {
    const unsigned char *p = (const unsigned char *)value.bytes.data();
    size_t size = value.bytes.size();
    char text[64];
    switch (value.tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM:
    case IPP_TAG_BOOLEAN:
        if (size != (value.tag == IPP_TAG_BOOLEAN ? 1u : 4u))
            break;
        if (value.tag == IPP_TAG_BOOLEAN)
            return p[0] ? "true" : "false";
        return std::to_string((int32_t)Read32(p));
    case IPP_TAG_RESOLUTION:
        if (size != 9)
            break;
        snprintf(text, sizeof text, "%dx%d%s", (int32_t)Read32(p), (int32_t)Read32(p + 4),
                 p[8] == IPP_RES_PER_INCH ? "dpi"
                 : p[8] == IPP_RES_PER_CM ? "dpcm"
                                          : "(units?)");
        return text;
    case IPP_TAG_RANGE:
        if (size != 8)
            break;
        return std::to_string((int32_t)Read32(p)) + "-" + std::to_string((int32_t)Read32(p + 4));
    case IPP_TAG_DATE:
        if (size != 11)
            break;
        snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%u%c%02u%02u",
                 (unsigned)Read16(p), p[2], p[3], p[4], p[5], p[6], p[7],
                 p[8] == '-'   ? '-'
                 : p[8] == '+' ? '+'
                               : '?',
                 p[9], p[10]);
        return text;
    case IPP_TAG_BEGIN_COLLECTION: {
        std::string out = "{";
        for (const IppAttribute &member : value.members) {
            out += out.size() > 1 ? " " : "";
            out += member.name + "=";
            for (size_t i = 0; i < member.values.size(); ++i)
                out += (i ? "," : "") + IppValueText(member.values[i]);
        }
        return out + "}";
    }
    default:
        if (value.tag >= IPP_TAG_OCTET_STRING || size > 0)
            return Quoted(value.bytes);
        // An out-of-band value: its tag says it all.
        return IppTagName(value.tag) ? IppTagName(value.tag) : "?";
    }
    return Quoted(value.bytes);
}
