// One ad round trip (request, answer, pictures, ready) against adnet on
// loopback, beside bare libcurl GETs of the same addresses, one fresh handle
// each. Prints both times and their ratio; the target is at most 2x.
#include "ads/AdlarkAd.h"
#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkImageCache.h"
#include "BenchSupport.h"
#include "kit/core/DeviceInfo.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/RunLoop.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Source : public AdlarkDelegate {
public:
    std::optional<std::string> publisherId() override { return std::string("text"); }
};

size_t sink(char*, size_t size, size_t count, void*) { return size * count; }

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    const std::string dir = adbench::makeDeviceRoot("bench-ads");
    if (dir.empty())
        return 1;
    auto adnet = adbench::startAdnet();
    if (!adnet.port)
        return 1;
    const int port = adnet.port;
    adbench::mapHostsTo(port);

    auto source = std::make_shared<Source>();
    auto owner = std::make_shared<int>(0);
    // One warm-up ad fills the image cache (browser and action icons), as in use.
    auto roundTrip = [&] {
        auto ad = AdlarkAd::create();
        bool done = false;
        ad->setDataSource(source);
        ad->setDelegate(owner);
        ad->requestSuccessSelector = [&](AdlarkAd&) { done = true; };
        ad->requestFailureSelector = [&](AdlarkAd&) { done = true; std::fprintf(stderr, "ad failed\n"); };
        ad->request();
        kit::RunLoop::main().runUntil([&] { return done; }, 10);
        return ad->readyForDisplay();
    };
    if (!roundTrip())
        return 1;
    const std::string query = AdlarkAd::queryStringFromDictionary(AdlarkAd::create()->buildParams());

    double t0 = now();
    for (int i = 0; i < rounds; ++i)
        if (!roundTrip())
            return 1;
    double adTime = (now() - t0) / rounds;

    // The same addresses with bare libcurl: the ad request, then the picture.
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const std::string urls[] = { base + "/ad_source.php?" + query, base + "/static/iphone/img/small.png" };
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // The same request headers as the ad service sends.
    curl_slist* headers = curl_slist_append(nullptr, ("USER-AGENT: " + AdlarkURLDownload::userAgent()).c_str());
    if (auto& isu = kit::DeviceInfo::current().uniqueIdentifier)
        headers = curl_slist_append(headers, ("X-ADLARK-ISU: " + *isu).c_str());
    t0 = now();
    for (int i = 0; i < rounds; ++i) {
        for (auto& url : urls) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, sink);
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
            curl_easy_perform(easy);
            curl_easy_cleanup(easy);
        }
    }
    double curlTime = (now() - t0) / rounds;
    curl_slist_free_all(headers);

    std::printf("ad round trip:      %8.1f us\n", adTime * 1e6);
    std::printf("bare libcurl GETs:  %8.1f us\n", curlTime * 1e6);
    std::printf("ratio:              %8.2fx (target <= 2x)\n", adTime / curlTime);

    adnet.stop();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
