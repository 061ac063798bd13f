#pragma once
// A request for an address, with the cache policy and the time-out a loader
// uses. A request may hold no address at all (made from text that did not form
// one); a web view handed such a request reports a failed load.
#include "kit/net/URL.h"

#include <optional>

namespace kit {

// The handheld's numbering.
enum class URLRequestCachePolicy {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
    ReturnCacheDataElseLoad = 2,
    ReturnCacheDataDontLoad = 3,
    ReloadIgnoringLocalAndRemoteCacheData = 4,
};

class URLRequest {
public:
    static constexpr double defaultTimeoutInterval = 60;

    URLRequest() = default;
    static URLRequest requestWithURL(std::optional<URL> url,
        URLRequestCachePolicy policy = URLRequestCachePolicy::UseProtocolCachePolicy,
        double timeoutInterval = defaultTimeoutInterval)
    {
        URLRequest r;
        r.m_url = std::move(url);
        r.m_cachePolicy = policy;
        r.m_timeout = timeoutInterval;
        return r;
    }

    const std::optional<URL>& url() const { return m_url; }
    URLRequestCachePolicy cachePolicy() const { return m_cachePolicy; }
    double timeoutInterval() const { return m_timeout; }
    // The address's text, or empty when the request has none.
    std::string absoluteString() const { return m_url ? m_url->absoluteString() : std::string(); }

private:
    std::optional<URL> m_url;
    URLRequestCachePolicy m_cachePolicy { URLRequestCachePolicy::UseProtocolCachePolicy };
    double m_timeout { defaultTimeoutInterval };
};

} // namespace kit
