// Page order: digit runs by value, the rest without regard to case.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/natural_order.h"

namespace {

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return CompareNaturally(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

TEST(NaturalOrder, TenPagesOrMoreComeOutInPageOrder) {
    EXPECT_EQ(Sorted({"VellumTransit10.jpg", "VellumTransit1.jpg", "VellumTransit2.jpg",
                      "VellumTransit11.jpg", "VellumTransit9.jpg", "VellumTransit100.jpg"}),
              (std::vector<std::string>{"VellumTransit1.jpg", "VellumTransit2.jpg",
                                        "VellumTransit9.jpg", "VellumTransit10.jpg",
                                        "VellumTransit11.jpg", "VellumTransit100.jpg"}));
}

// Zero-padded names and jobs of fewer than ten pages keep the order NTFS gave them.
TEST(NaturalOrder, KeepsTheListingOrderWhereItWasAlreadyRight) {
    const std::vector<std::vector<std::string>> listings = {
        {"VellumTransit001.jpg", "VellumTransit002.jpg", "VellumTransit010.jpg",
         "VellumTransit100.jpg"},
        {"VellumTransit1.jpg", "VellumTransit2.jpg", "VellumTransit9.jpg"},
        {"VellumTransit.jpg", "VellumTransit1.jpg", "VellumTransitA.jpg", "vellumtransitb.jpg",
         "VellumTransit_c.jpg"},
    };
    for (const auto &listing : listings)
        EXPECT_EQ(Sorted(listing), listing);
}

TEST(NaturalOrder, CaseIsIgnoredAndTheOrderIsTotal) {
    EXPECT_LT(CompareNaturally("vellumtransit2.JPG", "VellumTransit10.jpg"), 0);
    EXPECT_GT(CompareNaturally("VellumTransit10.jpg", "vellumtransit2.JPG"), 0);
    // Equal but for case or padding: still ordered, one way round only.
    EXPECT_NE(CompareNaturally("a1.jpg", "A1.jpg"), 0);
    EXPECT_EQ(CompareNaturally("a1.jpg", "A1.jpg"), -CompareNaturally("A1.jpg", "a1.jpg"));
    EXPECT_NE(CompareNaturally("p01.jpg", "p1.jpg"), 0);
    EXPECT_EQ(CompareNaturally("p01.jpg", "p1.jpg"), -CompareNaturally("p1.jpg", "p01.jpg"));
    EXPECT_EQ(CompareNaturally("same.jpg", "same.jpg"), 0);
}

TEST(NaturalOrder, DigitRunsLongerThanAnyIntegerCompareByValue) {
    EXPECT_LT(CompareNaturally("p99999999999999999999999.jpg", "p100000000000000000000000.jpg"), 0);
    EXPECT_LT(CompareNaturally("p0000000000000000000000002.jpg", "p10.jpg"), 0);
}

} // namespace
