#pragma once
// Fetches the whole resource at an address on the run loop, without holding
// the caller up: the bytes unchanged, or nothing when the fetch fails (no
// connection, an HTTP error status, an address that is not http or https, a
// body over the size limit, or the time limit passing on the run loop's
// clock). Redirects are followed. Host names are mapped through
// QUORVANE_CONNECT_TO.
//
// The completion runs once, on the main run loop, never from inside start().
// cancel() (or destroying the fetch, also from inside the completion) ends it
// and no completion follows.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {

class HttpRequest;
class Timer;

inline constexpr double resourceFetchTimeLimit = 30;
inline constexpr size_t resourceFetchSizeLimit = 64u << 20;

class ResourceFetch {
public:
    using Completion = std::function<void(std::optional<std::vector<uint8_t>> bytes)>;

    static std::unique_ptr<ResourceFetch> start(const std::string& url, Completion completion,
        double timeLimitSeconds = resourceFetchTimeLimit, size_t sizeLimit = resourceFetchSizeLimit);
    ~ResourceFetch();
    ResourceFetch(const ResourceFetch&) = delete;
    ResourceFetch& operator=(const ResourceFetch&) = delete;

    const std::string& url() const { return m_url; }
    bool isRunning() const { return static_cast<bool>(m_completion); }
    // The final answer's HTTP status once one came (0 before, or without one):
    // says why a fetch failed.
    int status() const { return m_status; }
    void cancel();

private:
    struct Private { explicit Private() = default; };

public:
    ResourceFetch(Private, std::string url, Completion completion);

private:
    void finish(std::optional<std::vector<uint8_t>> bytes);

    std::string m_url;
    Completion m_completion;
    std::shared_ptr<HttpRequest> m_request;
    std::shared_ptr<Timer> m_failLater; // an address that cannot be fetched fails on the next turn
    std::vector<uint8_t> m_bytes;
    int m_status { 0 };
};

} // namespace kit
