#pragma once
// One HTTP GET on a run loop (the main one unless the caller names another;
// libcurl's multi interface driven by kit's fd watches; curl's own timers run
// on a real-time timer descriptor so that a manual clock does not stall the
// transfer).
//
// Callbacks, in order, each on the main run loop and never from inside curl:
//   onResponse(status)  once, for the final response (redirects are followed
//                       and not reported, like the handheld's loader does,
//                       unless setFollowsRedirects(false): then a redirect is
//                       the final response and redirectLocation() names its
//                       target)
//   onData(bytes)       zero or more times, body bytes as they arrive
//   then exactly one of onFinish() (whole body arrived) or onFailure()
//   (transport error, refused connection, time-out).
// cancel() (also from inside a callback) stops the transfer; no callback
// follows it. Destroying the request cancels it.
//
// The time-out runs on the run loop's clock, so tests advance a manual clock
// to reach it. Host names are mapped through QUORVANE_CONNECT_TO (HostMapping.h).
//
// Only http and https are spoken, for the first address and for every
// redirect. A body cap (setMaximumBodyLength) counts the body as delivered,
// that is after content decoding: the byte that passes it aborts the transfer
// inside curl's own write, nothing beyond the cap is kept, and onFailure
// follows (no data of that transfer is delivered any more).
#include <cstddef>
#include <cstdint>
#include "kit/core/ErrorOr.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct curl_slist;

namespace kit {

class HttpEngine;
class RunLoop;
class Timer;

class HttpRequest : public std::enable_shared_from_this<HttpRequest> {
public:
    static std::shared_ptr<HttpRequest> create(std::string url);
    static std::shared_ptr<HttpRequest> create(RunLoop& loop, std::string url);
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    const std::string& url() const { return m_url; }
    // Extra request header; replaces one of the same name set here before.
    void setHeader(std::string name, std::string value);
    void setTimeout(double seconds) { m_timeout = seconds; }
    double timeout() const { return m_timeout; }
    void setFollowsRedirects(bool follows) { m_followsRedirects = follows; }
    // The absolute address a redirect answer points to; empty for others.
    const std::string& redirectLocation() const { return m_redirectLocation; }
    // Why the last transfer failed: curl's result code (CURLE_OPERATION_TIMEDOUT
    // for the run loop's time-out, CURLE_WRITE_ERROR past the body cap); 0
    // before any failure.
    int failureCode() const { return m_failureCode; }
    // The last failure was the time-out (the run loop's or curl's own).
    bool failedByTimeout() const;
    // Decoded body bytes allowed per transfer; beyond them the transfer fails.
    void setMaximumBodyLength(size_t bytes) { m_maximumBodyLength = bytes; }
    size_t maximumBodyLength() const { return m_maximumBodyLength; }

    std::function<void(int status)> onResponse;
    std::function<void(const uint8_t* bytes, size_t length)> onData;
    std::function<void()> onFailure;
    std::function<void()> onFinish;

    // Starts at once. An error when the request cannot be started at all (no
    // valid http or https URL, no transfer handle); then no callback follows.
    ErrorOr<void> start();
    void cancel();
    bool isRunning() const { return m_running; }

    // A URL that start() would accept.
    static bool isValidURL(const std::string& url);

private:
    struct Private { explicit Private() = default; }; // only the factory names it

public:
    HttpRequest(Private, RunLoop& loop, std::string url);

    struct EasyDeleter {
        void operator()(void* easy) const;
    };
    struct ListDeleter {
        void operator()(curl_slist* list) const;
    };

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
    // The engine's loop is going: stop without a word, leaving nothing on it.
    void loopEnded(HttpEngine& engine);
    // Stops the transfer and leaves the engine (given where the transfer is in one).
    void release(HttpEngine* engine);
    // Runs queued callbacks; false if the request was cancelled or ended.
    void deliver();

    RunLoop& m_loop;
    std::string m_url;
    std::vector<std::pair<std::string, std::string>> m_headers;
    double m_timeout { 60 };
    bool m_followsRedirects { true };
    std::string m_redirectLocation;
    int m_failureCode { 0 };
    size_t m_maximumBodyLength { SIZE_MAX };
    size_t m_bodyLength { 0 };
    std::unique_ptr<void, EasyDeleter> m_easy;
    std::unique_ptr<curl_slist, ListDeleter> m_headerList;
    bool m_running { false };
    bool m_responseQueued { false };
    std::vector<Event> m_events;
    std::shared_ptr<Timer> m_timer;
    uint64_t m_serial { 0 };
};

} // namespace kit
