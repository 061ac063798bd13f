#include "ads/AdlarkAnswer.h"

#include "ads/AdlarkService.h"

#include "json/CJSONDeserializer.h"

namespace adlark {

namespace {

std::optional<json::Dictionary> dictionaryOf(std::string_view bytes)
{
    return json::CJSONDeserializer::deserializer().deserializeAsDictionary(bytes);
}

std::optional<std::string> lookup(const std::optional<json::Dictionary>& answer, std::string_view key)
{
    // Only texts count: a value of another type is taken as absent.
    return answer ? answer->utf8(key) : std::nullopt;
}

} // namespace

AdAnswer readAdAnswer(std::string_view bytes)
{
    auto answer = dictionaryOf(bytes);
    AdAnswer ad;
    ad.text = lookup(answer, "text");
    ad.action = lookup(answer, "6");
    ad.userString = lookup(answer, "8");
    ad.clickUrl = lookup(answer, "url");
    ad.jsonpUrl = lookup(answer, "jsonp_url");
    if (auto banner = lookup(answer, "banner")) {
        ad.banner = true;
        ad.pictureURL = *banner;
    } else if (auto path = lookup(answer, "204")) {
        ad.pictureURL = std::string(mediaHostURL) + *path;
    }
    // Only a banner ad is accounted for; "" means no pixel.
    if (ad.banner)
        if (auto pixel = lookup(answer, "cpm_url"); pixel && !pixel->empty())
            ad.accountingURL = *pixel;
    return ad;
}

std::optional<std::string> readClickAnswer(std::string_view bytes)
{
    auto redirect = lookup(dictionaryOf(bytes), "redirect_url");
    if (!redirect || redirect->empty())
        return std::nullopt;
    return redirect;
}

} // namespace adlark
