#include "kit/net/HttpRequest.h"

#include "kit/core/FdWatcher.h"
#include "kit/net/HostMapping.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <map>
#include <mutex>
#include <sys/timerfd.h>
#include <unistd.h>

namespace kit {

namespace {

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct URLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlFree {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

CURL* easyOf(const std::unique_ptr<void, HttpRequest::EasyDeleter>& easy)
{
    return static_cast<CURL*>(easy.get());
}

} // namespace

void HttpRequest::EasyDeleter::operator()(void* easy) const
{
    curl_easy_cleanup(static_cast<CURL*>(easy));
}

void HttpRequest::ListDeleter::operator()(curl_slist* list) const
{
    curl_slist_free_all(list);
}

// The transfers of one run loop, owned by the loop. The multi handle exists
// only while transfers run, so that a run loop reset between tests never leaves
// stale watches behind. Requests still running when their loop goes are ended
// quietly (they report nothing more), so one that outlives the loop, held by
// a static, can still be destroyed safely.
class HttpEngine final : public RunLoop::Attachment {
public:
    static HttpEngine& forLoop(RunLoop& loop) { return loop.attachment<HttpEngine>(); }

    explicit HttpEngine(RunLoop& loop)
        : m_loop(loop)
    {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }
    ~HttpEngine() override;

    bool add(HttpRequest& request);
    void remove(HttpRequest& request);

private:

    void ensureMulti();
    void dropMultiIfIdle();
    void socketAction(curl_socket_t fd, int events);
    void readCompleted();
    void deliverAll();

    static int socketCallback(CURL*, curl_socket_t fd, int what, void* self, void*);
    static int timerCallback(CURLM*, long ms, void* self);

    RunLoop& m_loop;
    std::unique_ptr<CURLM, MultiDeleter> m_multi;
    int m_timerFd { -1 };
    std::unique_ptr<FdWatcher> m_timerWatch;
    std::map<curl_socket_t, std::unique_ptr<FdWatcher>> m_sockets;
    // Running requests in start order; the serial keeps delivery in that order.
    std::map<uint64_t, std::weak_ptr<HttpRequest>> m_requests;
    uint64_t m_nextSerial { 1 };
    int m_depth { 0 };
    uint64_t m_generation { 0 };
    // Held while transfers run: a manual clock then waits for their answers.
    Token m_awaiting;
};

void HttpEngine::ensureMulti()
{
    if (m_multi)
        return;
    m_multi.reset(curl_multi_init());
    ++m_generation;
    CURLM* multi = m_multi.get();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &HttpEngine::socketCallback);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &HttpEngine::timerCallback);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    m_timerWatch = std::make_unique<FdWatcher>(m_loop, m_timerFd, FdWatcher::Read, [this](unsigned) {
        uint64_t expirations;
        while (::read(m_timerFd, &expirations, sizeof expirations) > 0) { }
        socketAction(CURL_SOCKET_TIMEOUT, 0);
    });
}

void HttpEngine::dropMultiIfIdle()
{
    if (m_depth > 0 || !m_requests.empty() || !m_multi)
        return;
    m_multi.reset();
    m_sockets.clear();
    m_timerWatch.reset();
    if (m_timerFd >= 0)
        ::close(m_timerFd);
    m_timerFd = -1;
}

int HttpEngine::socketCallback(CURL*, curl_socket_t fd, int what, void* selfPtr, void*)
{
    auto& self = *static_cast<HttpEngine*>(selfPtr);
    self.m_sockets.erase(fd);
    if (what == CURL_POLL_REMOVE)
        return 0;
    unsigned events = 0;
    if (what == CURL_POLL_IN || what == CURL_POLL_INOUT)
        events |= FdWatcher::Read;
    if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT)
        events |= FdWatcher::Write;
    self.m_sockets[fd] = std::make_unique<FdWatcher>(self.m_loop, fd, events, [&self, fd](unsigned ev) {
        int flags = 0;
        if (ev & FdWatcher::Read)
            flags |= CURL_CSELECT_IN;
        if (ev & FdWatcher::Write)
            flags |= CURL_CSELECT_OUT;
        if (ev & FdWatcher::Error)
            flags |= CURL_CSELECT_ERR;
        self.socketAction(fd, flags);
    });
    return 0;
}

int HttpEngine::timerCallback(CURLM*, long ms, void* selfPtr)
{
    auto& self = *static_cast<HttpEngine*>(selfPtr);
    itimerspec spec {};
    if (ms == 0) {
        // "At once": a posted job saves a trip through the timer descriptor.
        timerfd_settime(self.m_timerFd, 0, &spec, nullptr);
        const uint64_t generation = self.m_generation;
        self.m_loop.post([&self, generation] {
            if (self.m_multi && self.m_generation == generation)
                self.socketAction(CURL_SOCKET_TIMEOUT, 0);
        });
        return 0;
    }
    if (ms > 0) { // negative: no timer wanted, the descriptor is disarmed
        spec.it_value.tv_sec = ms / 1000;
        spec.it_value.tv_nsec = (ms % 1000) * 1000000L;
    }
    timerfd_settime(self.m_timerFd, 0, &spec, nullptr);
    return 0;
}

void HttpEngine::socketAction(curl_socket_t fd, int events)
{
    if (!m_multi)
        return;
    ++m_depth;
    int running = 0;
    curl_multi_socket_action(m_multi.get(), fd, events, &running);
    readCompleted();
    deliverAll();
    --m_depth;
    dropMultiIfIdle();
}

void HttpEngine::readCompleted()
{
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi.get(), &left)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        HttpRequest* request = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &request);
        CURLcode result = msg->data.result;
        if (!request)
            continue;
        if (result == CURLE_OK) {
            request->queueResponseIfNeeded();
            request->m_events.push_back({ HttpRequest::EventKind::Finish, 0, {} });
        } else {
            request->m_events.push_back({ HttpRequest::EventKind::Failure, int(result), {} });
        }
        curl_multi_remove_handle(m_multi.get(), msg->easy_handle);
    }
}

void HttpEngine::deliverAll()
{
    std::vector<std::shared_ptr<HttpRequest>> batch;
    for (auto& [serial, weak] : m_requests)
        if (auto strong = weak.lock(); strong && !strong->m_events.empty())
            batch.push_back(std::move(strong));
    for (auto& request : batch)
        request->deliver();
}

bool HttpEngine::add(HttpRequest& request)
{
    ensureMulti();
    request.m_serial = m_nextSerial++;
    m_requests[request.m_serial] = request.weak_from_this();
    if (curl_multi_add_handle(m_multi.get(), easyOf(request.m_easy)) != CURLM_OK) {
        m_requests.erase(request.m_serial);
        dropMultiIfIdle();
        return false;
    }
    if (!m_awaiting.isActive())
        m_awaiting = m_loop.awaitOutside();
    return true;
}

HttpEngine::~HttpEngine()
{
    auto requests = std::exchange(m_requests, {});
    m_depth = 1; // the multi handle stays until every request has left it
    for (auto& [serial, weak] : requests)
        if (auto request = weak.lock())
            request->loopEnded(*this);
    m_depth = 0;
    dropMultiIfIdle();
}

void HttpEngine::remove(HttpRequest& request)
{
    if (m_multi && request.m_easy)
        curl_multi_remove_handle(m_multi.get(), easyOf(request.m_easy));
    m_requests.erase(request.m_serial);
    if (m_requests.empty())
        m_awaiting.reset();
    dropMultiIfIdle();
}

// --- HttpRequest ---

HttpRequest::HttpRequest(Private, RunLoop& loop, std::string url)
    : m_loop(loop)
    , m_url(std::move(url))
{
}

std::shared_ptr<HttpRequest> HttpRequest::create(std::string url)
{
    return create(RunLoop::main(), std::move(url));
}

std::shared_ptr<HttpRequest> HttpRequest::create(RunLoop& loop, std::string url)
{
    return std::make_shared<HttpRequest>(Private {}, loop, std::move(url));
}

HttpRequest::~HttpRequest()
{
    onResponse = nullptr;
    onData = nullptr;
    onFailure = nullptr;
    onFinish = nullptr;
    // weak_from_this() is gone by now; detach without it.
    if (m_timer)
        m_timer->invalidate();
    if (m_easy)
        HttpEngine::forLoop(m_loop).remove(*this);
}

void HttpRequest::setHeader(std::string name, std::string value)
{
    auto same = [&](auto& h) { return strcasecmp(h.first.c_str(), name.c_str()) == 0; };
    m_headers.erase(std::remove_if(m_headers.begin(), m_headers.end(), same), m_headers.end());
    m_headers.emplace_back(std::move(name), std::move(value));
}

bool HttpRequest::failedByTimeout() const
{
    return m_failureCode == CURLE_OPERATION_TIMEDOUT;
}

bool HttpRequest::isValidURL(const std::string& url)
{
    if (url.empty())
        return false;
    std::unique_ptr<CURLU, URLDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    char* text = nullptr;
    curl_url_get(parsed.get(), CURLUPART_SCHEME, &text, 0);
    CurlText scheme(text);
    if (!scheme || (strcasecmp(scheme.get(), "http") != 0 && strcasecmp(scheme.get(), "https") != 0))
        return false;
    text = nullptr;
    curl_url_get(parsed.get(), CURLUPART_HOST, &text, 0);
    CurlText host(text);
    return host && *host;
}

namespace {

// The mapped hosts of QUORVANE_CONNECT_TO, rebuilt when the variable changes.
curl_slist* connectToList()
{
    static std::unique_ptr<curl_slist, HttpRequest::ListDeleter> list;
    static std::string listSource;
    const char* env = std::getenv(hostMappingVariable);
    std::string source = env ? env : "";
    if (source != listSource || (!list && !source.empty())) {
        list.reset();
        curl_slist* built = nullptr;
        for (auto& mapping : parseHostMappings(source))
            built = curl_slist_append(built, mapping.connectToEntry().c_str());
        list.reset(built);
        listSource = source;
    }
    return list.get();
}

} // namespace

ErrorOr<void> HttpRequest::start()
{
    detach();
    if (!isValidURL(m_url))
        return Error { "not an http or https address: " + m_url };
    std::unique_ptr<void, EasyDeleter> handle(curl_easy_init());
    if (!handle)
        return Error { "no transfer handle could be made" };
    CURL* easy = easyOf(handle);
    m_events.clear();
    m_responseQueued = false;
    m_bodyLength = 0;
    m_redirectLocation.clear();
    m_failureCode = 0;

    curl_easy_setopt(easy, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpRequest::writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, m_followsRedirects ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
    // Servers name absolute addresses: no scheme but the web's, ever.
    if (curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") != CURLE_OK
        || curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") != CURLE_OK)
        return Error { "the transfer library cannot be limited to http and https" };
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");

    curl_slist* list = nullptr;
    for (auto& [name, value] : m_headers)
        list = curl_slist_append(list, (name + ": " + value).c_str());
    m_headerList.reset(list);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    // Mapped hosts lead to our own loopback servers: no proxy on the way there.
    if (curl_slist* connectTo = connectToList()) {
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }

    m_easy = std::move(handle);
    m_running = true;
    auto& engine = HttpEngine::forLoop(m_loop);
    if (!engine.add(*this)) {
        m_running = false;
        m_easy.reset();
        return Error { "the transfer could not join the run loop's transfers" };
    }
    if (m_timeout > 0) {
        std::weak_ptr<HttpRequest> weak = weak_from_this();
        m_timer = Timer::scheduled(m_loop, m_timeout, false, [weak](Timer&) {
            auto self = weak.lock();
            if (!self || !self->m_running)
                return;
            if (self->m_easy)
                HttpEngine::forLoop(self->m_loop).remove(*self);
            self->m_events.push_back({ EventKind::Failure, int(CURLE_OPERATION_TIMEDOUT), {} });
            self->deliver();
        });
    }
    return {};
}

void HttpRequest::queueResponseIfNeeded()
{
    if (m_responseQueued || !m_easy)
        return;
    long code = 0;
    curl_easy_getinfo(easyOf(m_easy), CURLINFO_RESPONSE_CODE, &code);
    char* location = nullptr;
    curl_easy_getinfo(easyOf(m_easy), CURLINFO_REDIRECT_URL, &location);
    m_redirectLocation = location && code >= 300 && code < 400 ? location : "";
    m_events.push_back({ EventKind::Response, int(code), {} });
    m_responseQueued = true;
}

void HttpRequest::detach()
{
    release(m_easy ? &HttpEngine::forLoop(m_loop) : nullptr);
}

void HttpRequest::loopEnded(HttpEngine& engine)
{
    release(&engine);
}

void HttpRequest::release(HttpEngine* engine)
{
    m_running = false;
    m_events.clear();
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
    if (m_easy) {
        engine->remove(*this);
        m_easy.reset();
    }
}

void HttpRequest::cancel()
{
    detach();
}

void HttpRequest::deliver()
{
    auto keep = shared_from_this();
    while (m_running && !m_events.empty()) {
        Event event = std::move(m_events.front());
        m_events.erase(m_events.begin());
        switch (event.kind) {
        // Callbacks run from copies: a callback may replace or clear itself.
        case EventKind::Response:
            if (auto callback = onResponse)
                callback(event.status);
            break;
        case EventKind::Data:
            if (auto callback = onData)
                callback(event.bytes.data(), event.bytes.size());
            break;
        case EventKind::Finish:
        case EventKind::Failure: {
            auto callback = event.kind == EventKind::Finish ? onFinish : onFailure;
            if (event.kind == EventKind::Failure)
                m_failureCode = event.status;
            detach();
            if (callback)
                callback();
            return;
        }
        }
    }
}

size_t HttpRequest::writeBody(char* data, size_t size, size_t count, void* user)
{
    auto* request = static_cast<HttpRequest*>(user);
    const size_t length = size * count;
    request->queueResponseIfNeeded();
    if (length == 0)
        return 0;
    // Curl hands over decoded bytes, so this is where a small compressed body
    // that inflates without end is stopped: a short count aborts the transfer
    // within this socket action, and what was queued of it is dropped.
    if (length > request->m_maximumBodyLength - request->m_bodyLength) {
        auto& events = request->m_events;
        events.erase(std::remove_if(events.begin(), events.end(), [](const Event& e) { return e.kind == EventKind::Data; }),
            events.end());
        request->m_bodyLength = request->m_maximumBodyLength;
        return 0;
    }
    request->m_bodyLength += length;
    auto& events = request->m_events;
    if (!events.empty() && events.back().kind == EventKind::Data)
        events.back().bytes.insert(events.back().bytes.end(), data, data + length);
    else
        events.push_back({ EventKind::Data, 0, std::vector<uint8_t>(data, data + length) });
    return length;
}

} // namespace kit
