#pragma once
// AdlarkURLDownload: one HTTP GET of one URL into memory, with the service's
// "USER-AGENT" and "X-ADLARK-ISU" headers, reporting to its delegate with one
// of two messages carrying the download itself.
//
// At most one outcome message per transfer. An empty or unusable URL reports
// the failure synchronously, inside loadContentsOfURLAtString(). A status of
// 400 or more fails at once. After cancel() no message is ever sent again.
// The body is capped (maximumBodyLength, counted after content decoding and
// enforced by kit's HTTP as the bytes arrive): a larger body fails the
// download, so a misbehaving server cannot exhaust memory.
//
// Ownership: the caller holds the download (shared); the delegate is not held
// (weak) and a message goes out only while it is alive.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kit {
class HttpRequest;
}

class AdlarkURLDownload : public std::enable_shared_from_this<AdlarkURLDownload> {
public:
    using Selector = std::function<void(AdlarkURLDownload&)>;

    static constexpr double timeoutInterval = 60;
    static constexpr size_t maximumBodyLength = 4 * 1024 * 1024;

    static std::shared_ptr<AdlarkURLDownload> create();
    ~AdlarkURLDownload();
    AdlarkURLDownload(const AdlarkURLDownload&) = delete;
    AdlarkURLDownload& operator=(const AdlarkURLDownload&) = delete;

    // Built once per process from the device's facts.
    static const std::string& userAgent();
    // The format, exposed for tests: model, system name, version with "." as
    // "_", machine name.
    static std::string userAgentFor(const std::string& model, const std::string& systemName,
        const std::string& systemVersion, const std::string& machine);

    void loadContentsOfURLAtString(const std::string& url);
    void cancel();

    const std::optional<std::string>& identifier() const { return m_identifier; }
    void setIdentifier(std::optional<std::string> identifier) { m_identifier = std::move(identifier); }
    void setDelegate(std::weak_ptr<void> delegate) { m_delegate = std::move(delegate); }
    bool hasDelegate() const { return !m_delegate.expired(); }
    Selector successSelector;
    Selector failureSelector;

    // The body received so far; null when there is no buffer (never started
    // or cancelled).
    const std::vector<uint8_t>* data() const { return m_data.get(); }

private:
    struct Private { explicit Private() = default; }; // only the factory names it

public:
    explicit AdlarkURLDownload(Private) { }

private:
    void connectionDidReceiveResponse(int status);
    void connectionDidReceiveData(const uint8_t* bytes, size_t length);
    void connectionDidFail();
    void connectionDidFinishLoading();
    void send(const Selector& selector);
    void dropConnection();

    std::optional<std::string> m_identifier;
    std::weak_ptr<void> m_delegate;
    std::unique_ptr<std::vector<uint8_t>> m_data;
    std::shared_ptr<kit::HttpRequest> m_activeConnection;
};
