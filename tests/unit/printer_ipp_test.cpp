// The IPP codec: what it parses and emits back, and what it refuses. Each input sits in a block
// of exactly its size, so the sanitizer build sees any read past the end.
#include "printer/ipp.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace std::string_literals;

// A request with every kind of value: several groups, a 1setOf, a collection inside a
// collection, out-of-band values and a second group of the same tag.
IppMessage Sample() {
    IppMessage message;
    message.major = 2;
    message.minor = 0;
    message.code = 0x0002;
    message.requestId = 0x01020304;
    AddIppText(AddIppAttribute(&message, IPP_TAG_OPERATION, "attributes-charset"), IPP_TAG_CHARSET,
               "utf-8");
    IppAttribute *asked = AddIppAttribute(&message, IPP_TAG_OPERATION, "requested-attributes");
    AddIppText(asked, IPP_TAG_KEYWORD, "all");
    AddIppText(asked, IPP_TAG_KEYWORD, "media-col-database");
    AddIppInteger(AddIppAttribute(&message, IPP_TAG_JOB, "copies"), IPP_TAG_INTEGER, -7);
    AddIppBoolean(AddIppAttribute(&message, IPP_TAG_JOB, "fidelity"), true);
    AddIppResolution(AddIppAttribute(&message, IPP_TAG_JOB, "resolution"), 300, 150, 3);
    AddIppRange(AddIppAttribute(&message, IPP_TAG_JOB, "range"), 1, 9);
    AddIppOutOfBand(AddIppAttribute(&message, IPP_TAG_JOB, "nothing"), IPP_TAG_NO_VALUE);
    IppValue *col = AddIppCollection(AddIppAttribute(&message, IPP_TAG_JOB, "media-col"));
    IppValue *size = AddIppCollection(AddIppMember(col, "media-size"));
    AddIppInteger(AddIppMember(size, "x-dimension"), IPP_TAG_INTEGER, 21590);
    IppAttribute *types = AddIppMember(col, "media-type");
    AddIppText(types, IPP_TAG_KEYWORD, "stationery");
    AddIppText(types, IPP_TAG_KEYWORD, "photo");
    IppAttribute *second = AddIppAttribute(&message, IPP_TAG_JOB, "job-id");
    second->newGroup = true;
    AddIppInteger(second, IPP_TAG_INTEGER, 2);
    return message;
}

std::string Emit(const IppMessage &message) {
    std::string bytes;
    EmitIppMessage(message, &bytes);
    return bytes;
}

IppParseResult Parse(const std::string &bytes, IppMessage *message, size_t *used) {
    std::vector<unsigned char> block(bytes.begin(), bytes.end());
    return ParseIppMessage(block.data(), block.size(), message, used);
}

// The start of a request and its operation group, ready for one more field.
const std::string kHead = "\x02\x00\x00\x0B\x00\x00\x00\x01\x01"s;

// One field: tag, name, value.
std::string Field(uint8_t tag, const std::string &name, const std::string &value) {
    std::string out(1, (char)tag);
    out += (char)(name.size() >> 8);
    out += (char)name.size();
    out += name;
    out += (char)(value.size() >> 8);
    out += (char)value.size();
    return out + value;
}

TEST(IppCodec, ARequestRoundTripsAndTheDocumentFollowsIt) {
    std::string bytes = Emit(Sample());
    IppMessage parsed;
    size_t used = 0;
    ASSERT_EQ(Parse(bytes + "DOCUMENT", &parsed, &used), IPP_PARSE_OK);
    EXPECT_EQ(used, bytes.size());
    EXPECT_EQ(Emit(parsed), bytes);
    EXPECT_EQ(parsed.requestId, 0x01020304u);
    EXPECT_EQ(parsed.code, 0x0002);
    const IppAttribute *copies = FindIppAttribute(parsed, IPP_TAG_JOB, "copies");
    ASSERT_TRUE(copies);
    EXPECT_EQ(IppValueInteger(copies->values[0], 0), -7);
    const IppAttribute *col = FindIppAttribute(parsed, IPP_TAG_JOB, "media-col");
    ASSERT_TRUE(col);
    const IppAttribute *type = FindIppMember(col->values[0], "media-type");
    ASSERT_TRUE(type);
    EXPECT_EQ(type->values.size(), 2u);
    EXPECT_EQ(FindIppAttribute(parsed, IPP_TAG_OPERATION, "copies"), nullptr);
    // The second job group stays a group of its own.
    EXPECT_NE(bytes.find("\x02\x21\x00\x06job-id"s), std::string::npos);
}

TEST(IppCodec, EveryCutAsksForMore) {
    std::string bytes = Emit(Sample());
    for (size_t count = 0; count < bytes.size(); ++count) {
        IppMessage parsed;
        size_t used = 0;
        EXPECT_EQ(Parse(bytes.substr(0, count), &parsed, &used), IPP_PARSE_MORE) << count;
    }
}

TEST(IppCodec, BadTagsLengthsAndStructuresAreRefused) {
    const std::tuple<const char *, std::string> cases[] = {
        {"reserved delimiter 0x00", kHead + "\x00\x03"s},
        {"extension tag", kHead + Field(0x7F, "x", "\0\0\0\x01"s) + "\x03"},
        {"reserved value tag", kHead + Field(0x20, "x", "\0\0\0\x01"s) + "\x03"},
        {"reserved text tag", kHead + Field(0x43, "x", "abc") + "\x03"},
        {"integer of three bytes", kHead + Field(IPP_TAG_INTEGER, "x", "\0\0\x01"s) + "\x03"},
        {"enum of five bytes", kHead + Field(IPP_TAG_ENUM, "x", "\0\0\0\0\x01"s) + "\x03"},
        {"boolean of two bytes", kHead + Field(IPP_TAG_BOOLEAN, "x", "\0\x01"s) + "\x03"},
        {"boolean of value 2", kHead + Field(IPP_TAG_BOOLEAN, "x", "\x02") + "\x03"},
        {"dateTime of ten bytes", kHead + Field(IPP_TAG_DATE, "x", std::string(10, '\0')) + "\x03"},
        {"resolution of eight bytes",
         kHead + Field(IPP_TAG_RESOLUTION, "x", std::string(8, '\0')) + "\x03"},
        {"range of nine bytes", kHead + Field(IPP_TAG_RANGE, "x", std::string(9, '\0')) + "\x03"},
        {"no-value with a value", kHead + Field(IPP_TAG_NO_VALUE, "x", "a") + "\x03"},
        {"an attribute before any group",
         "\x02\x00\x00\x0B\x00\x00\x00\x01"s + Field(IPP_TAG_KEYWORD, "x", "a") + "\x03"},
        {"an additional value first in a group", kHead + Field(IPP_TAG_KEYWORD, "", "a") + "\x03"},
        {"an additional value after a new group", kHead + Field(IPP_TAG_KEYWORD, "x", "a") +
                                                      "\x02" + Field(IPP_TAG_KEYWORD, "", "b") +
                                                      "\x03"},
        {"a member name outside a collection",
         kHead + Field(IPP_TAG_MEMBER_NAME, "", "a") + "\x03"},
        {"an end of collection outside one",
         kHead + Field(IPP_TAG_END_COLLECTION, "", "") + "\x03"},
        {"a member value without a member name", kHead + Field(IPP_TAG_BEGIN_COLLECTION, "c", "") +
                                                     Field(IPP_TAG_INTEGER, "", "\0\0\0\1"s) +
                                                     Field(IPP_TAG_END_COLLECTION, "", "") +
                                                     "\x03"},
        {"a member name without a value", kHead + Field(IPP_TAG_BEGIN_COLLECTION, "c", "") +
                                              Field(IPP_TAG_MEMBER_NAME, "", "m") +
                                              Field(IPP_TAG_END_COLLECTION, "", "") + "\x03"},
        {"an empty member name", kHead + Field(IPP_TAG_BEGIN_COLLECTION, "c", "") +
                                     Field(IPP_TAG_MEMBER_NAME, "", "") +
                                     Field(IPP_TAG_INTEGER, "", "\0\0\0\1"s) +
                                     Field(IPP_TAG_END_COLLECTION, "", "") + "\x03"},
        {"a member value with a name", kHead + Field(IPP_TAG_BEGIN_COLLECTION, "c", "") +
                                           Field(IPP_TAG_MEMBER_NAME, "", "m") +
                                           Field(IPP_TAG_INTEGER, "n", "\0\0\0\1"s) +
                                           Field(IPP_TAG_END_COLLECTION, "", "") + "\x03"},
        {"an end of collection with a name", kHead + Field(IPP_TAG_BEGIN_COLLECTION, "c", "") +
                                                 Field(IPP_TAG_END_COLLECTION, "e", "") + "\x03"},
    };
    for (const auto &entry : cases) {
        IppMessage parsed;
        size_t used = 0;
        EXPECT_EQ(Parse(std::get<1>(entry), &parsed, &used), IPP_PARSE_BAD) << std::get<0>(entry);
    }
}

TEST(IppCodec, CollectionsNestOnlySoDeep) {
    auto nested = [](int depth) {
        std::string bytes = kHead + Field(IPP_TAG_BEGIN_COLLECTION, "c", "");
        for (int level = 1; level < depth; ++level)
            bytes += Field(IPP_TAG_MEMBER_NAME, "", "m") + Field(IPP_TAG_BEGIN_COLLECTION, "", "");
        bytes += Field(IPP_TAG_MEMBER_NAME, "", "m") + Field(IPP_TAG_INTEGER, "", "\0\0\0\1"s);
        for (int level = 0; level < depth; ++level)
            bytes += Field(IPP_TAG_END_COLLECTION, "", "");
        return bytes + "\x03";
    };
    IppMessage parsed;
    size_t used = 0;
    EXPECT_EQ(Parse(nested(kIppMaxCollectionDepth), &parsed, &used), IPP_PARSE_OK);
    EXPECT_EQ(Parse(nested(kIppMaxCollectionDepth + 1), &parsed, &used), IPP_PARSE_BAD);
}

// 64 KiB of attributes pass; one byte more, wherever the end tag would come, does not.
TEST(IppCodec, AttributesPast64KiBAreTooLarge) {
    // Additional text values of one attribute fill the request to exactly total bytes.
    auto request = [](size_t total) {
        std::string bytes = kHead + Field(IPP_TAG_TEXT, "a", "");
        size_t remaining = total - bytes.size() - 1;
        while (remaining > 0) {
            size_t piece = remaining > 60000 ? 60000 : remaining;
            if (remaining - piece > 0 && remaining - piece < 5)
                piece -= 5;
            bytes += Field(IPP_TAG_TEXT, "", std::string(piece - 5, 'x'));
            remaining -= piece;
        }
        return bytes + "\x03";
    };
    IppMessage parsed;
    size_t used = 0;
    std::string exact = request(kIppMaxAttributeBytes);
    ASSERT_EQ(exact.size(), kIppMaxAttributeBytes);
    EXPECT_EQ(Parse(exact + "document", &parsed, &used), IPP_PARSE_OK);
    EXPECT_EQ(used, kIppMaxAttributeBytes);
    std::string over = request(kIppMaxAttributeBytes + 1);
    EXPECT_EQ(Parse(over, &parsed, &used), IPP_PARSE_TOO_LARGE);
    // A value whose length runs past the limit is refused as soon as the limit is there.
    std::string running = kHead + Field(IPP_TAG_TEXT, "a", std::string(65000, 'x'));
    running += Field(IPP_TAG_TEXT, "", std::string(2000, 'y'));
    EXPECT_EQ(Parse(running.substr(0, kIppMaxAttributeBytes - 1), &parsed, &used), IPP_PARSE_MORE);
    EXPECT_EQ(Parse(running, &parsed, &used), IPP_PARSE_TOO_LARGE);
}

// The request log shows each value as it came: texts quoted, with what is not UTF-8 (or is a
// control character, a quote or a backslash) as escapes; numbers, resolutions, ranges, dates
// and collections readably.
TEST(IppCodec, ValuesAsTextShowWhatCame) {
    IppMessage message = Sample();
    auto value = [&](const char *name, size_t index = 0) {
        return IppValueText(FindIppAttribute(message, 0, name)->values[index]);
    };
    EXPECT_EQ(value("copies"), "-7");
    EXPECT_EQ(value("fidelity"), "true");
    EXPECT_EQ(value("resolution"), "300x150dpi");
    EXPECT_EQ(value("range"), "1-9");
    EXPECT_EQ(value("nothing"), "no-value");
    EXPECT_EQ(value("requested-attributes", 1), "\"media-col-database\"");
    EXPECT_EQ(value("media-col"),
              "{media-size={x-dimension=21590} media-type=\"stationery\",\"photo\"}");
    const std::pair<std::string, std::string> texts[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x96",
         "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x96\""},
        {"caf\xE9", "\"caf\\xe9\""},                                 // Latin-1, not UTF-8
        {"\xC0\xAF \xED\xA0\x80", "\"\\xc0\\xaf \\xed\\xa0\\x80\""}, // overlong, surrogate
        {"\xE2\x82", "\"\\xe2\\x82\""},                              // cut inside a character
        {"a\"b\\c\td\x7F"s + '\0', "\"a\\\"b\\\\c\\x09d\\x7f\\x00\""},
    };
    for (const auto &text : texts) {
        IppValue name;
        name.tag = IPP_TAG_NAME;
        name.bytes = text.first;
        EXPECT_EQ(IppValueText(name), text.second);
    }
    IppValue date;
    date.tag = IPP_TAG_DATE;
    date.bytes = "\x07\xE8\x0B\x05\x09\x1E\x00\x00+\x01\x00"s;
    EXPECT_EQ(IppValueText(date), "2024-11-05T09:30:00.0+0100");
    EXPECT_STREQ(IppOperationName(IPP_OP_GET_PRINTER_ATTRIBUTES), "Get-Printer-Attributes");
    EXPECT_STREQ(IppStatusName(IPP_COMPRESSION_ERROR), "client-error-compression-error");
    EXPECT_STREQ(IppTagName(IPP_TAG_NAME), "nameWithoutLanguage");
    EXPECT_EQ(IppOperationName(0x4000), nullptr);
}

} // namespace
