#pragma once
// AdlarkAd: one advertisement from its request to its click.
//
// request() loads the embedded browser's button images into the image cache
// (when missing), sends the ad request, reads the JSON answer, fetches the
// ad's pictures (and a banner ad's accounting pixel, whose failure is
// tolerated) and reports readiness; click() sends the click request and opens
// the landing page according to the ad's action.
//
// Ownership: the owner holds the ad (shared, made by create()); the ad holds
// its downloads; the data source and the owner (delegate) are not held. An
// outcome message is sent only while the delegate is alive; the owner clears
// it before it lets the ad go. The owner may drop the ad inside any message,
// including a failure reported synchronously while a download is being
// started: the ad keeps itself alive until the call returns, and after a
// failure it starts nothing and sends nothing more.
#include "ads/AdlarkURLDownload.h"

#include "kit/gfx/Geometry.h"
#include "kit/gfx/Image.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AdlarkDelegate;

class AdlarkAd : public std::enable_shared_from_this<AdlarkAd> {
public:
    enum State : int32_t {
        StateNew = 0,
        StateLoadingBrowserIcons = 1,
        StateBrowserIconsPresent = 2,
        StateRequestSent = 3,
        StateLoadingPictures = 4,
        StateReady = 5,
        StateFailed = 6,
        StateClicking = 7,
    };
    enum Medium : int32_t { MediumText = 0, MediumBanner = 1 };

    using Selector = std::function<void(AdlarkAd& ad)>;
    using URLSelector = std::function<void(AdlarkAd& ad, const std::string& url)>;

    // init: state 0, an empty set of downloads.
    static std::shared_ptr<AdlarkAd> create();
    ~AdlarkAd();
    AdlarkAd(const AdlarkAd&) = delete;
    AdlarkAd& operator=(const AdlarkAd&) = delete;

    void setDataSource(std::weak_ptr<AdlarkDelegate> dataSource) { m_dataSource = std::move(dataSource); }
    void setDelegate(std::weak_ptr<void> delegate) { m_delegate = std::move(delegate); }

    Selector requestSuccessSelector;
    Selector requestFailureSelector;
    Selector clickFailureSelector;
    Selector clickSuccessSelector;
    URLSelector displayCanvasSelector;
    URLSelector displayEmbeddedBrowserSelector;

    void request();
    bool readyForDisplay() const { return m_state == StateReady || m_state == StateClicking; }
    void click();

    int32_t state() const { return m_state; }
    int32_t medium() const { return m_medium; }
    const std::optional<std::string>& text() const { return m_text; }
    const std::optional<std::string>& action() const { return m_action; }
    const std::optional<std::string>& userString() const { return m_userString; }
    const std::optional<std::string>& clickUrl() const { return m_clickUrl; }
    const std::optional<std::string>& jsonpUrl() const { return m_jsonpUrl; }
    std::shared_ptr<const kit::Image> userImage() const { return m_userImage; }
    std::shared_ptr<const kit::Image> actionImage() const { return m_actionImage; }

    kit::Color backgroundColor() const;
    kit::Color textColor() const;
    // 2: the grey activity indicator, 1: the white one.
    int spinnerStyle() const;

    // The running downloads (for the owner's and tests' eyes).
    size_t activeDownloadCount() const { return m_activeDownloads ? m_activeDownloads->size() : 0; }
    bool hasDownloadSet() const { return m_activeDownloads.has_value(); }

    // Messages from the downloads.
    void downloadDidSucceed(AdlarkURLDownload& download);
    void downloadDidFail(AdlarkURLDownload& download);

    // "key=value" pairs joined by "&", each side escaped like a URL's
    // illegal characters; in the map's order.
    static std::string queryStringFromDictionary(const std::map<std::string, std::string>& params);
    // Percent-escapes what a URL may not hold (RFC 2396): control characters,
    // space, " # % < > [ \ ] ^ ` { | } and every byte outside ASCII (as UTF-8).
    static std::string escape(const std::string& text);

    std::map<std::string, std::string> buildParams();

    // An ad that is ready for display with this content, as if its answer and
    // pictures had loaded (no click address: a click fails). For previews and
    // the tests of what shows an ad.
    struct Content {
        int32_t medium { MediumText };
        std::optional<std::string> text;
        std::shared_ptr<const kit::Image> userImage;
        std::shared_ptr<const kit::Image> actionImage;
    };
    static std::shared_ptr<AdlarkAd> createReady(Content content);

private:
    struct Private { explicit Private() = default; }; // only the factory names it

public:
    explicit AdlarkAd(Private) { }

private:
    void loadBrowserIcons();
    void browserIconsDidFinishLoading();
    void requestAdFromServer();
    void addDownload(const std::string& url, std::optional<std::string> identifier);
    void loadAdWithData(const std::vector<uint8_t>* data);
    void requestDidSucceed();
    void requestDidFail();
    void performClickWithData(const std::vector<uint8_t>* data);
    void launchWebClick(const std::string& url);
    void launchCanvasClick(const std::string& url);
    void clickDidSucceed();
    void clickDidFail();

    std::shared_ptr<AdlarkURLDownload> takeDownload(AdlarkURLDownload& download);
    bool noDownloadLeft() const { return activeDownloadCount() == 0; }
    void sendToOwner(const Selector& selector);
    std::shared_ptr<AdlarkDelegate> dataSource() const { return m_dataSource.lock(); }

    std::weak_ptr<AdlarkDelegate> m_dataSource;
    std::weak_ptr<void> m_delegate;
    int32_t m_state { StateNew };
    // No value: the set was dropped when the ad failed.
    std::optional<std::vector<std::shared_ptr<AdlarkURLDownload>>> m_activeDownloads { std::in_place };
    int32_t m_medium { MediumText };
    std::optional<std::string> m_text;
    std::optional<std::string> m_action;
    std::optional<std::string> m_clickUrl;
    std::optional<std::string> m_jsonpUrl;
    std::optional<std::string> m_userString;
    std::shared_ptr<const kit::Image> m_userImage;
    std::shared_ptr<const kit::Image> m_actionImage;
};
