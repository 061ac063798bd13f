#include "transfers/BandwidthShare.h"

#include <algorithm>

namespace BandwidthShare {

namespace {
long long wholeKiB(long long bytes)
{
    return std::max(smallest, bytes / 1024 * 1024);
}
} // namespace

std::vector<long long> allot(long long total, const std::vector<long long>& rates)
{
    std::vector<long long> limits(rates.size(), 0);
    if (rates.empty() || total <= 0)
        return limits;
    const long long even = total / (long long)rates.size();
    std::vector<bool> light(rates.size(), false);
    long long given = 0;
    size_t heavy = 0;
    for (size_t i = 0; i < rates.size(); ++i) {
        // Room to grow: a quarter more than it uses, and some.
        const long long wants = rates[i] + rates[i] / 4 + 8 * 1024;
        if (wants < even) {
            light[i] = true;
            limits[i] = wholeKiB(wants);
            given += limits[i];
        } else {
            ++heavy;
        }
    }
    const long long rest = std::max(0LL, total - given);
    for (size_t i = 0; i < rates.size(); ++i)
        if (!light[i])
            limits[i] = wholeKiB(rest / (long long)heavy);
    return limits;
}

} // namespace BandwidthShare
