#include "ads/AdlarkURLDownload.h"

#include "kit/core/DeviceInfo.h"
#include "kit/core/WeakBind.h"
#include "kit/net/HttpRequest.h"

AdlarkURLDownload::~AdlarkURLDownload()
{
    m_identifier.reset();
    cancel();
}

std::shared_ptr<AdlarkURLDownload> AdlarkURLDownload::create()
{
    return std::make_shared<AdlarkURLDownload>(Private {});
}

std::string AdlarkURLDownload::userAgentFor(const std::string& model, const std::string& systemName,
    const std::string& systemVersion, const std::string& machine)
{
    std::string version = systemVersion;
    for (auto& c : version)
        if (c == '.')
            c = '_';
    return "Mozilla/5.0 (" + model + "; U; CPU " + systemName + " " + version + " like Mac OS X; HW " + machine
        + "; en-us) AppleWebKit/525.18.1 (KHTML, like Gecko) (Adlark-iSDK-20090203)";
}

const std::string& AdlarkURLDownload::userAgent()
{
    static const std::string agent = [] {
        auto& device = kit::DeviceInfo::current();
        return userAgentFor(device.model, device.systemName, device.systemVersion, device.machine);
    }();
    return agent;
}

void AdlarkURLDownload::loadContentsOfURLAtString(const std::string& url)
{
    auto keep = shared_from_this();
    if (url.empty()) {
        send(failureSelector);
        return;
    }
    auto request = kit::HttpRequest::create(url);
    request->setTimeout(timeoutInterval);
    // Enforced where the bytes arrive, after decoding: a hostile server's
    // compressed body cannot grow past it in memory.
    request->setMaximumBodyLength(maximumBodyLength);
    request->setHeader("USER-AGENT", userAgent());
    if (auto& isu = kit::DeviceInfo::current().uniqueIdentifier)
        request->setHeader("X-ADLARK-ISU", *isu);

    dropConnection();

    request->onResponse = kit::bindWeak(*this, &AdlarkURLDownload::connectionDidReceiveResponse);
    request->onData = kit::bindWeak(*this, &AdlarkURLDownload::connectionDidReceiveData);
    request->onFailure = kit::bindWeak(*this, &AdlarkURLDownload::connectionDidFail);
    request->onFinish = kit::bindWeak(*this, &AdlarkURLDownload::connectionDidFinishLoading);
    if (!request->start()) {
        send(failureSelector);
        return;
    }
    m_activeConnection = std::move(request);
    m_data = std::make_unique<std::vector<uint8_t>>();
}

void AdlarkURLDownload::connectionDidReceiveResponse(int status)
{
    // Only the body after the last response counts.
    if (m_data)
        m_data->clear();
    if (status > 399) {
        dropConnection();
        send(failureSelector);
    }
}

void AdlarkURLDownload::connectionDidReceiveData(const uint8_t* bytes, size_t length)
{
    if (!m_data)
        m_data = std::make_unique<std::vector<uint8_t>>();
    m_data->insert(m_data->end(), bytes, bytes + length);
}

void AdlarkURLDownload::connectionDidFail()
{
    send(failureSelector);
}

void AdlarkURLDownload::connectionDidFinishLoading()
{
    send(successSelector);
}

void AdlarkURLDownload::send(const Selector& selector)
{
    auto delegate = m_delegate.lock();
    if (!delegate || !selector)
        return;
    auto keep = shared_from_this();
    auto message = selector; // the receiver may replace or clear the selectors
    message(*this);
}

void AdlarkURLDownload::dropConnection()
{
    if (m_activeConnection) {
        m_activeConnection->onResponse = nullptr;
        m_activeConnection->onData = nullptr;
        m_activeConnection->onFailure = nullptr;
        m_activeConnection->onFinish = nullptr;
        m_activeConnection->cancel();
        m_activeConnection.reset();
    }
}

void AdlarkURLDownload::cancel()
{
    dropConnection();
    m_data.reset();
    m_delegate.reset();
}
