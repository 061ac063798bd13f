#include "kit/HttpRequest.h"

#include "kit/FdWatcher.h"
#include "kit/HostMapping.h"
#include "kit/RunLoop.h"
#include "kit/Timer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <map>
#include <sys/timerfd.h>
#include <unistd.h>

namespace kit {

// The process's transfers. The multi handle exists only while transfers run,
// so that a run loop reset between tests never leaves stale watches behind.
class HttpEngine {
public:
    static HttpEngine& shared()
    {
        static HttpEngine* engine = new HttpEngine; // never freed: requests may outlive statics
        return *engine;
    }

    bool add(HttpRequest& request);
    void remove(HttpRequest& request);

private:
    HttpEngine() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    void ensureMulti();
    void dropMultiIfIdle();
    void socketAction(curl_socket_t fd, int events);
    void readCompleted();
    void deliverAll();

    static int socketCallback(CURL*, curl_socket_t fd, int what, void* self, void*);
    static int timerCallback(CURLM*, long ms, void* self);

    CURLM* m_multi { nullptr };
    int m_timerFd { -1 };
    std::unique_ptr<FdWatcher> m_timerWatch;
    std::map<curl_socket_t, std::unique_ptr<FdWatcher>> m_sockets;
    // Running requests in start order; the serial keeps delivery in that order.
    std::map<uint64_t, std::weak_ptr<HttpRequest>> m_requests;
    uint64_t m_nextSerial { 1 };
    int m_depth { 0 };
    uint64_t m_generation { 0 };
};

void HttpEngine::ensureMulti()
{
    if (m_multi)
        return;
    m_multi = curl_multi_init();
    ++m_generation;
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &HttpEngine::socketCallback);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &HttpEngine::timerCallback);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    m_timerWatch = std::make_unique<FdWatcher>(m_timerFd, FdWatcher::Read, [this](unsigned) {
        uint64_t expirations;
        while (::read(m_timerFd, &expirations, sizeof expirations) > 0) { }
        socketAction(CURL_SOCKET_TIMEOUT, 0);
    });
}

void HttpEngine::dropMultiIfIdle()
{
    if (m_depth > 0 || !m_requests.empty() || !m_multi)
        return;
    curl_multi_cleanup(m_multi);
    m_multi = nullptr;
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
    self.m_sockets[fd] = std::make_unique<FdWatcher>(fd, events, [&self, fd](unsigned ev) {
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
        RunLoop::main().post([&self, generation] {
            if (self.m_multi && self.m_generation == generation)
                self.socketAction(CURL_SOCKET_TIMEOUT, 0);
        });
        return 0;
    }
    if (ms > 0) {
        // Zero would disarm the descriptor; a nanosecond means "at once".
        spec.it_value.tv_sec = ms / 1000;
        spec.it_value.tv_nsec = (ms % 1000) * 1000000L;
        if (ms == 0)
            spec.it_value.tv_nsec = 1;
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
    curl_multi_socket_action(m_multi, fd, events, &running);
    readCompleted();
    deliverAll();
    --m_depth;
    dropMultiIfIdle();
}

void HttpEngine::readCompleted()
{
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &left)) {
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
            request->m_events.push_back({ HttpRequest::EventKind::Failure, 0, {} });
        }
        curl_multi_remove_handle(m_multi, msg->easy_handle);
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
    if (curl_multi_add_handle(m_multi, request.m_easy) != CURLM_OK) {
        m_requests.erase(request.m_serial);
        dropMultiIfIdle();
        return false;
    }
    return true;
}

void HttpEngine::remove(HttpRequest& request)
{
    if (m_multi && request.m_easy)
        curl_multi_remove_handle(m_multi, request.m_easy);
    m_requests.erase(request.m_serial);
    dropMultiIfIdle();
}

// --- HttpRequest ---

HttpRequest::HttpRequest(Private, std::string url)
    : m_url(std::move(url))
{
}

std::shared_ptr<HttpRequest> HttpRequest::create(std::string url)
{
    return std::make_shared<HttpRequest>(Private {}, std::move(url));
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
    if (m_easy) {
        HttpEngine::shared().remove(*this);
        curl_easy_cleanup(static_cast<CURL*>(m_easy));
    }
    if (m_headerList)
        curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
}

void HttpRequest::setHeader(std::string name, std::string value)
{
    auto same = [&](auto& h) { return strcasecmp(h.first.c_str(), name.c_str()) == 0; };
    m_headers.erase(std::remove_if(m_headers.begin(), m_headers.end(), same), m_headers.end());
    m_headers.emplace_back(std::move(name), std::move(value));
}

bool HttpRequest::isValidURL(const std::string& url)
{
    if (url.empty())
        return false;
    CURLU* parsed = curl_url();
    bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    if (ok) {
        char* scheme = nullptr;
        ok = curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
            && (strcasecmp(scheme, "http") == 0 || strcasecmp(scheme, "https") == 0);
        curl_free(scheme);
        char* host = nullptr;
        ok = ok && curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host;
        curl_free(host);
    }
    curl_url_cleanup(parsed);
    return ok;
}

bool HttpRequest::start()
{
    detach();
    if (!isValidURL(m_url))
        return false;
    CURL* easy = curl_easy_init();
    if (!easy)
        return false;
    m_easy = easy;
    m_events.clear();
    m_responseQueued = false;

    curl_easy_setopt(easy, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpRequest::writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");

    curl_slist* list = nullptr;
    for (auto& [name, value] : m_headers)
        list = curl_slist_append(list, (name + ": " + value).c_str());
    if (m_headerList)
        curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
    m_headerList = list;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    // Mapped hosts lead to our own loopback servers: no proxy on the way there.
    static curl_slist* connectTo = nullptr;
    static std::string connectToSource;
    const char* env = std::getenv(hostMappingVariable);
    std::string source = env ? env : "";
    if (source != connectToSource || (!connectTo && !source.empty())) {
        if (connectTo)
            curl_slist_free_all(connectTo);
        connectTo = nullptr;
        for (auto& mapping : parseHostMappings(source))
            connectTo = curl_slist_append(connectTo, mapping.connectToEntry().c_str());
        connectToSource = source;
    }
    if (connectTo) {
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo);
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }

    m_running = true;
    if (!HttpEngine::shared().add(*this)) {
        m_running = false;
        curl_easy_cleanup(easy);
        m_easy = nullptr;
        return false;
    }
    if (m_timeout > 0) {
        std::weak_ptr<HttpRequest> weak = weak_from_this();
        m_timer = Timer::scheduled(m_timeout, false, [weak](Timer&) {
            auto self = weak.lock();
            if (!self || !self->m_running)
                return;
            if (self->m_easy)
                HttpEngine::shared().remove(*self);
            self->m_events.push_back({ EventKind::Failure, 0, {} });
            self->deliver();
        });
    }
    return true;
}

void HttpRequest::queueResponseIfNeeded()
{
    if (m_responseQueued || !m_easy)
        return;
    long code = 0;
    curl_easy_getinfo(static_cast<CURL*>(m_easy), CURLINFO_RESPONSE_CODE, &code);
    m_events.push_back({ EventKind::Response, int(code), {} });
    m_responseQueued = true;
}

void HttpRequest::detach()
{
    m_running = false;
    m_events.clear();
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
    if (m_easy) {
        HttpEngine::shared().remove(*this);
        curl_easy_cleanup(static_cast<CURL*>(m_easy));
        m_easy = nullptr;
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
    if (!request->m_events.empty() && request->m_events.back().kind == HttpRequest::EventKind::Data)
        request->m_events.back().bytes.insert(request->m_events.back().bytes.end(), data, data + length);
    else
        request->m_events.push_back({ HttpRequest::EventKind::Data, 0, std::vector<uint8_t>(data, data + length) });
    return length;
}

} // namespace kit
