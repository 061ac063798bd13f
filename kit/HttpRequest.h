#pragma once
// One HTTP GET on the main run loop (libcurl's multi interface driven by kit's
// fd watches; curl's own timers run on a real-time timer descriptor so that a
// manual clock does not stall the transfer).
//
// Callbacks, in order, each on the main run loop and never from inside curl:
//   onResponse(status)  once, for the final response (redirects are followed
//                       and not reported, like the handheld's loader does)
//   onData(bytes)       zero or more times, body bytes as they arrive
//   then exactly one of onFinish() (whole body arrived) or onFailure()
//   (transport error, refused connection, time-out).
// cancel() (also from inside a callback) stops the transfer; no callback
// follows it. Destroying the request cancels it.
//
// The time-out runs on the run loop's clock, so tests advance a manual clock
// to reach it. Host names are mapped through QUORVANE_CONNECT_TO (HostMapping.h).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kit {

class Timer;

class HttpRequest : public std::enable_shared_from_this<HttpRequest> {
public:
    static std::shared_ptr<HttpRequest> create(std::string url);
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    const std::string& url() const { return m_url; }
    // Extra request header; replaces one of the same name set here before.
    void setHeader(std::string name, std::string value);
    void setTimeout(double seconds) { m_timeout = seconds; }
    double timeout() const { return m_timeout; }

    std::function<void(int status)> onResponse;
    std::function<void(const uint8_t* bytes, size_t length)> onData;
    std::function<void()> onFailure;
    std::function<void()> onFinish;

    // Starts at once. False when the request cannot be started at all (no
    // valid http or https URL); then no callback follows.
    bool start();
    void cancel();
    bool isRunning() const { return m_running; }

    // A URL that start() would accept.
    static bool isValidURL(const std::string& url);

    struct Private { };
    HttpRequest(Private, std::string url);

private:
    friend class HttpEngine;
    enum class EventKind { Response, Data, Finish, Failure };
    struct Event {
        EventKind kind;
        int status { 0 };
        std::vector<uint8_t> bytes;
    };

    static size_t writeBody(char* data, size_t size, size_t count, void* user);
    void queueResponseIfNeeded();
    void detach();
    // Runs queued callbacks; false if the request was cancelled or ended.
    void deliver();

    std::string m_url;
    std::vector<std::pair<std::string, std::string>> m_headers;
    double m_timeout { 60 };
    void* m_easy { nullptr };
    void* m_headerList { nullptr };
    bool m_running { false };
    bool m_responseQueued { false };
    std::vector<Event> m_events;
    std::shared_ptr<Timer> m_timer;
    uint64_t m_serial { 0 };
};

} // namespace kit
