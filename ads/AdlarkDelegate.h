#pragma once
// AdlarkDelegate: everything the ad service asks of its host. publisherId is
// required; every other method is optional. An optional method that the host
// does not override answers std::nullopt ("not answered"), and the service
// then uses the default named beside it. Notices default to doing nothing.
//
// location() has two levels: the outer optional tells whether the host answers
// at all (else the shared location manager is asked), the inner one whether
// it returned a location (an answer with none sends no position).
//
// The service never holds the delegate: it keeps a weak reference and checks
// it at every use.
#include "kit/gfx/Geometry.h"
#include "kit/core/LocationSource.h"

#include <chrono>
#include <optional>
#include <string>

class AdlarkView;

class AdlarkDelegate {
public:
    virtual ~AdlarkDelegate();

    // Required. Nothing (nullopt) makes every ad request fail.
    virtual std::optional<std::string> publisherId() = 0;

    virtual void didReceiveAd(AdlarkView&) { }
    virtual void didFailToReceiveAd(AdlarkView&) { }

    virtual std::optional<kit::Color> adBackgroundColor() { return std::nullopt; } // default: defaultAdBackgroundColor()
    virtual std::optional<kit::Color> adTextColor() { return std::nullopt; }       // default: white
    virtual std::optional<bool> useGraySpinner() { return std::nullopt; }          // default: false
    virtual std::optional<bool> mayAskForLocation() { return std::nullopt; }       // default: false
    virtual std::optional<std::optional<kit::Location>> location() { return std::nullopt; }
    virtual std::optional<bool> useTestAd() { return std::nullopt; }               // default: false
    virtual std::optional<std::string> postalCode() { return std::nullopt; }
    virtual std::optional<std::string> areaCode() { return std::nullopt; }
    virtual std::optional<std::chrono::system_clock::time_point> dateOfBirth() { return std::nullopt; }
    virtual std::optional<std::string> gender() { return std::nullopt; }
    virtual std::optional<std::string> keywords() { return std::nullopt; }
    virtual std::optional<std::string> searchString() { return std::nullopt; }
    virtual std::optional<bool> useEmbeddedWebView() { return std::nullopt; }      // default: true
    // The host shows a web landing page itself. Return true when implemented;
    // the base answers false and the URL goes to the system.
    virtual bool presentWebView(const std::string& url) { return false; }
    virtual std::optional<int> embeddedWebViewBarStyle() { return std::nullopt; }
    virtual std::optional<kit::Color> embeddedWebViewTintColor() { return std::nullopt; }
    virtual void willPresentModalCanvas() { }
    virtual void willPresentWebView() { }
    virtual void didDismissModalCanvas() { }
    virtual void didDismissWebView() { }

    // Not a declared method of the protocol, asked all the same: the base
    // address of the ad request. Default: the ad server's "/ad_source.php".
    virtual std::optional<std::string> adserverEndpoint() { return std::nullopt; }

    static kit::Color defaultAdBackgroundColor() { return kit::Color::rgba(0.443f, 0.514f, 0.631f, 1.0f); }
    static kit::Color defaultAdTextColor() { return kit::Color::white(); }
};
