// A total limit shared among running transfers by what each uses.
#include "transfers/BandwidthShare.h"

#include <gtest/gtest.h>
#include <numeric>

TEST(BandwidthShareTest, WhatOneLeavesTheOthersTakeAndNothingIsLessThanAFewKiB)
{
    const long long total = 400 * 1024;
    // One nearly idle, two that would take all they get.
    auto limits = BandwidthShare::allot(total, { 2 * 1024, 300 * 1024, 250 * 1024 });
    ASSERT_EQ(limits.size(), 3u);
    EXPECT_LT(limits[0], 20 * 1024) << "little used, little kept";
    EXPECT_EQ(limits[1], limits[2]) << "the rest is split evenly";
    EXPECT_LE(std::accumulate(limits.begin(), limits.end(), 0LL), total);
    for (auto l : limits)
        EXPECT_EQ(l % 1024, 0) << "whole KiB/s: a limit read as bytes stalls the client";
    // Even when everyone is idle the total is not exceeded, and a share never falls to nothing.
    auto idle = BandwidthShare::allot(8 * 1024, std::vector<long long>(5, 0));
    for (auto l : idle)
        EXPECT_EQ(l, BandwidthShare::smallest);
    EXPECT_TRUE(BandwidthShare::allot(total, {}).empty());
}
