// Page order: digit runs by value, the rest without regard to case.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/natural_order.h"

namespace {

using Names = std::vector<std::string>;

Names Sorted(Names names) {
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return CompareNaturally(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

TEST(NaturalOrder, PutsPagesInPageOrder) {
    EXPECT_EQ(Sorted({"VellumTransit10.jpg", "vellumtransit1.JPG", "VellumTransit2.jpg",
                      "VellumTransit100.jpg", "p99999999999999999999999.jpg",
                      "p100000000000000000000000.jpg"}),
              (Names{"p99999999999999999999999.jpg", "p100000000000000000000000.jpg",
                     "vellumtransit1.JPG", "VellumTransit2.jpg", "VellumTransit10.jpg",
                     "VellumTransit100.jpg"}));
}

// Zero-padded names and jobs of fewer than ten pages keep the order NTFS gave them, and names
// that differ only in case or padding still have one order.
TEST(NaturalOrder, KeepsTheListingOrderWhereItWasRight) {
    for (const Names &listing :
         {Names{"VellumTransit001.jpg", "VellumTransit002.jpg", "VellumTransit010.jpg"},
          Names{"VellumTransit.jpg", "VellumTransit1.jpg", "VellumTransit9.jpg",
                "VellumTransitA.jpg", "vellumtransitb.jpg", "VellumTransit_c.jpg"}})
        EXPECT_EQ(Sorted(listing), listing);
    for (const auto &pair : {std::make_pair("a1.jpg", "A1.jpg"), std::make_pair("p01", "p1")}) {
        EXPECT_NE(CompareNaturally(pair.first, pair.second), 0);
        EXPECT_EQ(CompareNaturally(pair.first, pair.second),
                  -CompareNaturally(pair.second, pair.first));
    }
}

} // namespace
