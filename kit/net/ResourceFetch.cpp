#include "kit/net/ResourceFetch.h"

#include "kit/core/Timer.h"
#include "kit/net/HttpRequest.h"

namespace kit {

ResourceFetch::ResourceFetch(Private, std::string url, Completion completion)
    : m_url(std::move(url))
    , m_completion(std::move(completion))
{
}

ResourceFetch::~ResourceFetch()
{
    cancel();
}

std::unique_ptr<ResourceFetch> ResourceFetch::start(const std::string& url, Completion completion, double timeLimitSeconds, size_t sizeLimit)
{
    auto fetch = std::make_unique<ResourceFetch>(Private {}, url, std::move(completion));
    auto* self = fetch.get();
    auto request = HttpRequest::create(url);
    request->setTimeout(timeLimitSeconds > 0 ? timeLimitSeconds : 0.001);
    request->setMaximumBodyLength(sizeLimit);
    request->onResponse = [self](int status) { self->m_status = status; };
    request->onData = [self](const uint8_t* bytes, size_t length) { self->m_bytes.insert(self->m_bytes.end(), bytes, bytes + length); };
    request->onFailure = [self] { self->finish(std::nullopt); };
    request->onFinish = [self] {
        // An error page is not the resource asked for.
        if (self->m_status >= 400 || self->m_status == 0)
            return self->finish(std::nullopt);
        self->finish(std::move(self->m_bytes));
    };
    fetch->m_request = request;
    if (!request->start()) {
        fetch->m_request.reset();
        // Failing inside start() would call the caller back before it holds the fetch.
        fetch->m_failLater = Timer::scheduled(0, false, [self](Timer&) { self->finish(std::nullopt); });
    }
    return fetch;
}

void ResourceFetch::finish(std::optional<std::vector<uint8_t>> bytes)
{
    // The request (whose callback this may be) lives to the end of the call,
    // even when the completion destroys this fetch.
    auto keep = std::move(m_request);
    auto completion = std::move(m_completion);
    m_completion = nullptr;
    m_bytes.clear();
    if (keep)
        keep->cancel();
    if (completion)
        completion(std::move(bytes));
}

void ResourceFetch::cancel()
{
    m_completion = nullptr;
    if (m_failLater)
        m_failLater->invalidate();
    if (auto request = std::move(m_request)) {
        request->onResponse = nullptr;
        request->onData = nullptr;
        request->onFailure = nullptr;
        request->onFinish = nullptr;
        request->cancel();
    }
}

} // namespace kit
