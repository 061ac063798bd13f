#include "ads/AdlarkAd.h"

#include "ads/AdlarkAnswer.h"
#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkImageCache.h"
#include "ads/AdlarkLocationManager.h"
#include "ads/AdlarkService.h"

#include "kit/ui/Application.h"
#include "kit/core/DeviceInfo.h"
#include "kit/core/WeakBind.h"
#include "kit/net/URLEscape.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>

namespace {

const std::string mediaHost(adlark::mediaHostURL);

std::string formatDate(std::chrono::system_clock::time_point date)
{
    std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

void openWithSystem(const std::string& url)
{
    // A file of this device, named by the ad server: never handed over.
    std::string scheme = url.substr(0, url.find(':'));
    for (char& c : scheme)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (scheme == "file")
        return;
    if (kit::Application::exists())
        kit::Application::shared().handOverURL(url);
    else
        kit::Platform::current().openURL(url);
}

} // namespace

std::shared_ptr<AdlarkAd> AdlarkAd::create()
{
    return std::make_shared<AdlarkAd>(Private {});
}

std::shared_ptr<AdlarkAd> AdlarkAd::createReady(Content content)
{
    auto ad = create();
    ad->m_state = StateReady;
    ad->m_medium = content.medium;
    ad->m_text = std::move(content.text);
    ad->m_userImage = std::move(content.userImage);
    ad->m_actionImage = std::move(content.actionImage);
    return ad;
}

AdlarkAd::~AdlarkAd()
{
    if (m_activeDownloads) {
        auto downloads = std::move(*m_activeDownloads);
        m_activeDownloads.reset();
        for (auto& download : downloads)
            download->cancel();
    }
}

// --- Colours and spinner ---

kit::Color AdlarkAd::backgroundColor() const
{
    auto source = dataSource();
    auto colour = source ? source->adBackgroundColor() : std::nullopt;
    return colour.value_or(AdlarkDelegate::defaultAdBackgroundColor());
}

kit::Color AdlarkAd::textColor() const
{
    auto source = dataSource();
    auto colour = source ? source->adTextColor() : std::nullopt;
    return colour.value_or(AdlarkDelegate::defaultAdTextColor());
}

int AdlarkAd::spinnerStyle() const
{
    auto source = dataSource();
    return source && source->useGraySpinner() == true ? 2 : 1;
}

// --- Query string ---

std::string AdlarkAd::escape(const std::string& text)
{
    // What RFC 2396 allows in a URL stays; "#" and "%" do not.
    return kit::percentEscape(text, "-_.!~*'();/?:@&=+$,");
}

std::string AdlarkAd::queryStringFromDictionary(const std::map<std::string, std::string>& params)
{
    std::string query;
    for (auto& [key, value] : params) {
        if (!query.empty())
            query += '&';
        query += escape(key);
        query += '=';
        query += escape(value);
    }
    return query;
}

std::map<std::string, std::string> AdlarkAd::buildParams()
{
    std::map<std::string, std::string> params;
    auto source = dataSource();
    if (!source)
        return params;
    if (auto publisher = source->publisherId())
        params["s"] = *publisher;
    params["f"] = "jsonp";
    params["v"] = std::string(adlark::serviceVersion);
    params["ex"] = "1";
    params["client_sdk"] = "1";
    if (auto& isu = kit::DeviceInfo::current().uniqueIdentifier)
        params["isu"] = *isu;
    if (source->useTestAd() == true)
        params["m"] = "test";

    if (source->mayAskForLocation() == true) {
        if (auto answer = source->location()) {
            if (*answer)
                params["d[coord]"] = AdlarkLocationManager::stringForLocation(**answer);
        } else {
            auto& manager = AdlarkLocationManager::sharedManager();
            if (manager.locationServicesEnabled()) {
                manager.updateIfAppropriate();
                auto position = manager.locationString();
                auto date = manager.lastUpdated();
                if (position && date) {
                    char stamp[64];
                    std::snprintf(stamp, sizeof stamp, "%f", *date);
                    params["d[coord]"] = *position;
                    params["d[coord_timestamp]"] = stamp;
                }
            }
        }
    }

    if (auto value = source->postalCode())
        params["d[pc]"] = *value;
    if (auto value = source->areaCode())
        params["d[ac]"] = *value;
    if (auto value = source->gender())
        params["d[gender]"] = *value;
    if (auto date = source->dateOfBirth())
        params["d[dob]"] = formatDate(*date);
    if (auto value = source->searchString())
        params["search"] = *value;
    if (auto value = source->keywords())
        params["k"] = *value;
    return params;
}

// --- Request ---

void AdlarkAd::request()
{
    if (m_state != StateNew)
        return;
    auto keep = shared_from_this();
    loadBrowserIcons();
}

void AdlarkAd::loadBrowserIcons()
{
    m_state = StateLoadingBrowserIcons;
    auto source = dataSource();
    if (!(source && source->useEmbeddedWebView() == false)) {
        bool started = false;
        auto& cache = AdlarkImageCache::sharedCache();
        for (auto name : adlark::browserIconNames) {
            std::string icon(name);
            if (cache.imageIsInCache(icon))
                continue;
            addDownload(mediaHost + std::string(adlark::browserIconPath) + icon + ".png", icon);
            if (m_state != StateLoadingBrowserIcons)
                return; // failed on the spot: nothing more for this ad
            started = true;
        }
        if (started)
            return;
    }
    browserIconsDidFinishLoading();
}

void AdlarkAd::browserIconsDidFinishLoading()
{
    m_state = StateBrowserIconsPresent;
    requestAdFromServer();
}

void AdlarkAd::requestAdFromServer()
{
    if (m_state != StateBrowserIconsPresent)
        return;
    auto params = buildParams();
    // Without a publisher there is no request to make.
    if (!params.count("s")) {
        requestDidFail();
        return;
    }
    auto query = queryStringFromDictionary(params);
    auto source = dataSource();
    auto endpoint = source ? source->adserverEndpoint() : std::nullopt;
    std::string base = endpoint.value_or(std::string(adlark::adServerURL));
    m_state = StateRequestSent;
    addDownload(base + "?" + query, std::nullopt);
}

void AdlarkAd::addDownload(const std::string& url, std::optional<std::string> identifier)
{
    auto keep = shared_from_this();
    auto download = AdlarkURLDownload::create();
    download->successSelector = kit::bindWeak(*this, &AdlarkAd::downloadDidSucceed);
    download->failureSelector = kit::bindWeak(*this, &AdlarkAd::downloadDidFail);
    download->setDelegate(weak_from_this());
    download->setIdentifier(std::move(identifier));
    download->loadContentsOfURLAtString(url);
    // A download that reported synchronously has been handled (and cancelled)
    // already; a failed ad has no set. Neither must hold the download.
    if (m_activeDownloads && download->hasDelegate())
        m_activeDownloads->push_back(std::move(download));
    else
        download->cancel();
}

std::shared_ptr<AdlarkURLDownload> AdlarkAd::takeDownload(AdlarkURLDownload& download)
{
    auto held = download.shared_from_this();
    if (m_activeDownloads) {
        auto& set = *m_activeDownloads;
        set.erase(std::remove(set.begin(), set.end(), held), set.end());
    }
    return held;
}

void AdlarkAd::downloadDidSucceed(AdlarkURLDownload& download)
{
    auto keep = shared_from_this();
    switch (m_state) {
    case StateLoadingBrowserIcons: {
        auto held = takeDownload(download);
        auto image = held->data() ? kit::Image::fromData(*held->data()) : nullptr;
        auto name = held->identifier();
        held->cancel();
        if (!image) {
            requestDidFail();
            return;
        }
        if (name)
            AdlarkImageCache::sharedCache().storeImage(*image, *name);
        if (noDownloadLeft())
            browserIconsDidFinishLoading();
        return;
    }
    case StateRequestSent: {
        auto held = takeDownload(download);
        loadAdWithData(held->data());
        held->cancel();
        return;
    }
    case StateLoadingPictures: {
        auto held = takeDownload(download);
        auto name = held->identifier().value_or(std::string());
        std::shared_ptr<const kit::Image> image;
        if (name == "userImage" || name == "actionIcon")
            image = held->data() ? kit::Image::fromData(*held->data()) : nullptr;
        held->cancel();
        if (name == "userImage") {
            if (!image) {
                requestDidFail();
                return;
            }
            m_userImage = image;
        } else if (name == "actionIcon") {
            if (!image) {
                requestDidFail();
                return;
            }
            m_actionImage = image;
            if (m_action)
                AdlarkImageCache::sharedCache().storeImage(*image, *m_action);
        }
        if (noDownloadLeft())
            requestDidSucceed();
        return;
    }
    case StateClicking: {
        auto held = takeDownload(download);
        performClickWithData(held->data());
        held->cancel();
        return;
    }
    default:
        return; // late news for an ad that is done or failed
    }
}

void AdlarkAd::downloadDidFail(AdlarkURLDownload& download)
{
    auto keep = shared_from_this();
    auto held = takeDownload(download);
    switch (m_state) {
    case StateLoadingBrowserIcons:
    case StateRequestSent:
    case StateLoadingPictures:
        if (held->identifier() == std::optional<std::string>("accountingPixel")) {
            if (noDownloadLeft())
                requestDidSucceed();
        } else {
            requestDidFail();
        }
        break;
    case StateClicking:
        clickDidFail();
        break;
    default:
        break;
    }
    held->cancel();
}

void AdlarkAd::loadAdWithData(const std::vector<uint8_t>* data)
{
    if (!data || data->empty()) {
        requestDidFail();
        return;
    }
    auto answer = adlark::readAdAnswer(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
    m_text = answer.text;
    m_action = answer.action;
    m_userString = answer.userString;
    m_clickUrl = answer.clickUrl;
    m_jsonpUrl = answer.jsonpUrl;
    if (answer.pictureURL)
        m_medium = answer.banner ? MediumBanner : MediumText;
    if (!answer.accepted()) {
        requestDidFail();
        return;
    }

    m_state = StateLoadingPictures;
    addDownload(*answer.pictureURL, std::string("userImage"));
    if (m_state != StateLoadingPictures)
        return;

    auto& cache = AdlarkImageCache::sharedCache();
    if (cache.imageIsInCache(*m_action))
        m_actionImage = cache.fetchImageNamed(*m_action);
    // A cached file that no longer reads as an image is fetched again.
    if (!m_actionImage) {
        addDownload(mediaHost + std::string(adlark::actionIconPath) + *m_action + ".png", std::string("actionIcon"));
        if (m_state != StateLoadingPictures)
            return;
    }

    // A text ad sends no pixel, whatever its answer holds.
    if (answer.accountingURL)
        addDownload(*answer.accountingURL, std::string("accountingPixel"));
}

void AdlarkAd::requestDidSucceed()
{
    m_state = StateReady;
    sendToOwner(requestSuccessSelector);
}

void AdlarkAd::requestDidFail()
{
    if (m_activeDownloads) {
        auto downloads = std::move(*m_activeDownloads);
        m_activeDownloads.reset();
        for (auto& download : downloads)
            download->cancel();
    }
    m_state = StateFailed;
    sendToOwner(requestFailureSelector);
}

// --- Click ---

void AdlarkAd::click()
{
    auto keep = shared_from_this();
    m_state = StateClicking;
    addDownload(m_jsonpUrl.value_or(std::string()), std::nullopt);
}

void AdlarkAd::performClickWithData(const std::vector<uint8_t>* data)
{
    if (!data || data->empty()) {
        clickDidFail();
        return;
    }
    auto redirect = adlark::readClickAnswer(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
    if (!redirect) {
        clickDidFail();
        return;
    }
    const std::string url = *redirect;
    clickDidSucceed();
    if (m_action == std::optional<std::string>("url"))
        launchWebClick(url);
    else if (m_action == std::optional<std::string>("canvas"))
        launchCanvasClick(url);
    else
        openWithSystem(url);
}

void AdlarkAd::launchWebClick(const std::string& url)
{
    auto source = dataSource();
    if (source && source->useEmbeddedWebView() == false) {
        if (!source->presentWebView(url))
            openWithSystem(url);
        return;
    }
    auto owner = m_delegate.lock();
    if (owner && displayEmbeddedBrowserSelector) {
        auto message = displayEmbeddedBrowserSelector;
        message(*this, url);
    }
}

void AdlarkAd::launchCanvasClick(const std::string& url)
{
    auto owner = m_delegate.lock();
    if (owner && displayCanvasSelector) {
        auto message = displayCanvasSelector;
        message(*this, url);
    }
}

void AdlarkAd::clickDidSucceed()
{
    m_state = StateReady;
    sendToOwner(clickSuccessSelector);
}

void AdlarkAd::clickDidFail()
{
    m_state = StateReady;
    sendToOwner(clickFailureSelector);
}

void AdlarkAd::sendToOwner(const Selector& selector)
{
    auto owner = m_delegate.lock();
    if (!owner || !selector)
        return;
    auto message = selector; // the owner may reset the ad's selectors inside
    message(*this);
}
