#pragma once
// A total limit shared among running transfers, by what each uses: one that
// uses less than an even share gets a little more than it uses, the rest is
// split evenly among those that would take more. Limits are whole KiB/s
// (the client stalls on limits meant as KB/s but read as bytes), at least
// `smallest`, and never more in all than the total (but for that floor).
#include <vector>

namespace BandwidthShare {

constexpr long long smallest = 4 * 1024;

// Limits in bytes/s, one per rate (bytes/s used now), for a total in bytes/s.
std::vector<long long> allot(long long total, const std::vector<long long>& rates);

} // namespace BandwidthShare
