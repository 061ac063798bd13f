#pragma once
// Fetches the whole resource at an address while the caller waits (the
// handheld's "contents of URL"): the bytes unchanged, or nothing when the
// fetch fails (no connection, an HTTP error status, an address that is not
// http or https, a body over the size limit, or the time limit passing).
//
// It blocks the calling thread, run loop included, so it always has a time
// limit, on real time. Host names are mapped through QUORVANE_CONNECT_TO.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kit {

inline constexpr double blockingFetchTimeLimit = 30;
inline constexpr size_t blockingFetchSizeLimit = 64u << 20;

std::optional<std::vector<uint8_t>> fetchContentsOfURL(const std::string& url,
    double timeLimitSeconds = blockingFetchTimeLimit, size_t sizeLimit = blockingFetchSizeLimit);

} // namespace kit
