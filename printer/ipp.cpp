// The IPP message codec.
#include "printer/ipp.h"

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
    case 0x10: // unsupported
    case 0x11: // default
    case 0x12: // unknown
    case 0x13: // no-value
    case 0x15: // not-settable
    case 0x16: // delete-attribute
    case 0x17: // admin-define
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
        if (tag == 0x00)
            return IPP_PARSE_BAD;
        if (tag < 0x10) {
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
