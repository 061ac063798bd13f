#pragma once
// The ad server's answers read into plain values: the ad answer (what an ad
// shows and which addresses it fetches) and the click answer (the landing
// address). Reading has no side effects, so it can be checked on its own
// against any bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace adlark {

struct AdAnswer {
    // Each as the answer gives it; absent when missing or not a string.
    std::optional<std::string> text;     // "text"
    std::optional<std::string> action;   // "6"
    std::optional<std::string> userString; // "8"
    std::optional<std::string> clickUrl; // "url"
    std::optional<std::string> jsonpUrl; // "jsonp_url"
    // "banner" makes a banner ad; otherwise "204" a text ad.
    bool banner { false };
    // The banner's address as given, or the media host followed by "204".
    std::optional<std::string> pictureURL;
    // A banner ad's non-empty "cpm_url"; a text ad never has one.
    std::optional<std::string> accountingURL;

    // An answer is usable with an action, a click address, a picture and,
    // unless it is a banner ad, a text.
    bool accepted() const { return action && clickUrl && pictureURL && (text || banner); }
};

// Bytes that are no JSON object read as an answer with nothing in it.
AdAnswer readAdAnswer(std::string_view bytes);
// The click answer's "redirect_url"; absent when missing or empty.
std::optional<std::string> readClickAnswer(std::string_view bytes);

} // namespace adlark
