// The name a document gets on the e-reader from its title, and the delivered names made of it.
#include <gtest/gtest.h>

#include <string>

#include "common/delivered_name.h"

namespace {

struct NameCase {
    const char *title; // null: no title
    const char *name;
};

// Each rule on its own, then where rules meet.
const NameCase kNames[] = {
    {nullptr, "VellumTransit"},
    {"", "VellumTransit"},
    {"GNU Libtasn1 Manual", "GNU Libtasn1 Manual"},
    {"会議資料 2026", "会議資料 2026"},
    {"a\\b/c:d*e?f\"g<h>i|j", "a_b_c_d_e_f_g_h_i_j"},
    {"tab\there\x01\x7F", "tab here__"},
    {"C1\xC2\x85x", "C1_x"},
    {"  many   blanks \r\n and\tlines  ", "many blanks and lines"},
    {"...dots and blanks... ", "dots and blanks"},
    {"report.pdf", "report"},
    {"report.PDF", "report"},
    {"report.pdf.pdf", "report.pdf"},
    {"report .pdf", "report"},
    {".pdf", "VellumTransit"},
    {" . . ", "VellumTransit"},
    {"???", "___"},
    {"CON", "CON_"},
    {"con.txt", "con_.txt"},
    {"Lpt9.PDF", "Lpt9_"},
    {"COM1 .pdf", "COM1_"},
    {"COM0", "COM0"},
    {"CONSOLE", "CONSOLE"},
    {"AUX report", "AUX report"},
    {"nul.tar.gz", "nul_.tar.gz"},
};

TEST(DocumentName, EachRuleAsATable) {
    for (const NameCase &test : kNames) {
        char name[kDeliveredNameSize];
        ASSERT_EQ(MakeDocumentName(test.title, name, sizeof name), 1) << test.title;
        EXPECT_STREQ(name, test.name) << (test.title ? test.title : "(none)");
    }
}

// At most 100 characters and 240 bytes, cut between two characters, trimmed after the cut.
TEST(DocumentName, LongTitlesAreCutBetweenCharacters) {
    const struct {
        std::string title, name;
    } cases[] = {
        {std::string(150, 'x'), std::string(100, 'x')},
        {std::string(99, 'x') + " y", std::string(99, 'x')},
        {std::string(98, 'x') + ".." + "zz", std::string(98, 'x')},
        {[] {
             std::string t;
             for (int i = 0; i < 90; ++i)
                 t += "\xE8\xB3\x87"; // 資: three bytes
             return t;
         }(),
         [] {
             std::string t;
             for (int i = 0; i < 80; ++i)
                 t += "\xE8\xB3\x87"; // 240 bytes
             return t;
         }()},
        {std::string(99, 'x') + "\xF0\x9F\x93\x96" + "tail",
         std::string(99, 'x') + "\xF0\x9F\x93\x96"},
    };
    for (const auto &test : cases) {
        char name[kDeliveredNameSize];
        ASSERT_EQ(MakeDocumentName(test.title.c_str(), name, sizeof name), 1);
        EXPECT_EQ(std::string(name), test.name) << test.title;
    }
}

// "<name>.pdf", then "<name> (2).pdf" ... "<name> (999).pdf"; a name is read back in any letters,
// and only a whole delivered name counts.
TEST(DocumentName, DeliveredNamesOfADocument) {
    char name[kDeliveredNameSize];
    ASSERT_TRUE(FormatDeliveredName("会議資料 2026", 1, name, sizeof name));
    EXPECT_STREQ(name, "会議資料 2026.pdf");
    ASSERT_TRUE(FormatDeliveredName("Report", 999, name, sizeof name));
    EXPECT_STREQ(name, "Report (999).pdf");
    EXPECT_FALSE(FormatDeliveredName("Report", 1000, name, sizeof name));
    EXPECT_STREQ(name, "");
    const struct {
        const char *base, *name;
        int number;
    } parsed[] = {
        {"Report", "Report.pdf", 1},
        {"Report", "report (12).PDF", 12},
        {"Report", "Report(2).pdf", 0},
        {"Report", "Report (02).pdf", 0},
        {"Report", "Report (1000).pdf", 0},
        {"Report", "Reports.pdf", 0},
        {"Report", "Report (2).pdf.x", 0},
        {"会議資料 2026", "会議資料 2026 (3).pdf", 3},
        {"VellumTransit", "VellumTransit (2).pdf", 2},
    };
    for (const auto &test : parsed)
        EXPECT_EQ(ParseDeliveredName(test.base, test.name), test.number) << test.name;
    // A note may name only what a run could have given a copy.
    EXPECT_TRUE(IsDeliveredName("Report (2).pdf"));
    EXPECT_TRUE(IsDeliveredName("会議資料 2026.pdf"));
    EXPECT_FALSE(IsDeliveredName("..\\Windows\\x.pdf"));
    EXPECT_FALSE(IsDeliveredName(" Report.pdf"));
    EXPECT_FALSE(IsDeliveredName("Report.txt"));
}

} // namespace
