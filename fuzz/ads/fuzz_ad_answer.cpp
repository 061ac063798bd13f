// libFuzzer target for reading the ad server's answers into an ad. Besides
// crashes and sanitizer findings it checks the rules an ad relies on: when an
// answer is accepted, which picture a text ad fetches, that only a banner ad
// has an accounting address, and that a click answer never yields an empty
// landing address.
#include "fuzz/FuzzCheck.h"
#include "ads/AdlarkAnswer.h"
#include "ads/AdlarkService.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using fuzzcheck::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto answer = adlark::readAdAnswer(bytes);
    check(answer.accepted() == (answer.action && answer.clickUrl && answer.pictureURL && (answer.text || answer.banner)));
    check(!answer.banner || answer.pictureURL);
    if (answer.pictureURL && !answer.banner)
        check(answer.pictureURL->rfind(adlark::mediaHostURL, 0) == 0);
    if (answer.accountingURL)
        check(answer.banner && !answer.accountingURL->empty());

    const auto redirect = adlark::readClickAnswer(bytes);
    check(!redirect || !redirect->empty());
    return 0;
}
