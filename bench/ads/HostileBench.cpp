// The ad service against a hostile server (adnet's hostile scenarios).
//
// For each scenario, one ad request from start to its end (ready or failed),
// each in a fresh process of its own: the peak resident memory and the time,
// beside the same for a plain text ad. Target: a peak within the body cap plus
// twice the largest allowed picture above the plain ad's, and every request
// ends within a second.
//
// Then the main thread's time per picture decode, median and worst: each
// hostile picture, and the largest allowed picture of each kind.
#include "ads/AdlarkAd.h"
#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkURLDownload.h"
#include "BenchSupport.h"
#include "kit/gfx/Image.h"
#include "kit/core/RunLoop.h"
#include "tools/adnet/HostileMedia.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long peakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

class Source : public AdlarkDelegate {
public:
    explicit Source(std::string publisher)
        : m_publisher(std::move(publisher))
    {
    }
    std::optional<std::string> publisherId() override { return m_publisher; }

private:
    std::string m_publisher;
};

// A child: one ad request of one scenario. Prints "STATE PEAK_KIB SECONDS".
int requestOne(const std::string& scenario, int port)
{
    const std::string dir = adbench::makeDeviceRoot("bench-hostile");
    if (dir.empty())
        return 1;
    adbench::mapHostsTo(port);

    auto source = std::make_shared<Source>(scenario);
    auto owner = std::make_shared<int>(0);
    auto ad = AdlarkAd::create();
    bool done = false;
    ad->setDataSource(source);
    ad->setDelegate(owner);
    ad->requestSuccessSelector = [&](AdlarkAd&) { done = true; };
    ad->requestFailureSelector = [&](AdlarkAd&) { done = true; };
    const double start = now();
    ad->request();
    kit::RunLoop::main().runUntil([&] { return done; }, 30);
    const double seconds = now() - start;
    std::printf("%d %ld %.6f\n", ad->state(), peakKiB(), seconds);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}

struct Outcome {
    int state = -1;
    long peak = -1;
    double seconds = -1;
};

Outcome runChild(const std::string& scenario, int port)
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl("/proc/self/exe", "bench_ads_hostile", "--one", scenario.c_str(), std::to_string(port).c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    close(out[0]);
    waitpid(pid, nullptr, 0);
    Outcome o;
    std::sscanf(text.c_str(), "%d %ld %lf", &o.state, &o.peak, &o.seconds);
    return o;
}

std::string noisyPng(int width, int height)
{
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    uint32_t x = 2463534242u;
    for (auto& p : pixels) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        p = uint8_t(x);
    }
    auto png = kit::Image::fromRGBA(width, height, std::move(pixels))->pngData();
    return std::string(png.begin(), png.end());
}

// The median and the worst of some decodes (the machine is shared: the worst
// includes whatever else ran meanwhile).
std::pair<double, double> decodeTimes(const std::string& bytes, int rounds, bool& decoded)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const double start = now();
        auto image = kit::Image::fromData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        times.push_back(now() - start);
        decoded = image != nullptr;
    }
    std::sort(times.begin(), times.end());
    return { times[times.size() / 2], times.back() };
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--one") == 0)
        return requestOne(argv[2], std::atoi(argv[3]));

    auto adnet = adbench::startAdnet();
    if (!adnet.port)
        return 1;
    const int port = adnet.port;

    const double capMiB = double(AdlarkURLDownload::maximumBodyLength) / (1 << 20);
    const double pictureMiB = double(kit::Image::maximumPixels * 4) / (1 << 20);
    const double allowance = capMiB + 2 * pictureMiB;
    std::printf("one ad request per scenario, each in a fresh process\n");
    std::printf("target: peak <= plain + %.0f MiB (body cap %.0f + 2 x picture %.0f), end within 1 s\n\n", allowance,
        capMiB, pictureMiB);
    std::printf("%-24s %-7s %10s %10s %9s  %s\n", "scenario", "end", "peak MiB", "above", "ms", "");

    const Outcome plain = runChild("text", port);
    const char* scenarios[] = { "gzip-bomb", "huge", "hostile-gif-frames", "icon-gif-frames", "hostile-jpeg-scans",
        "hostile-jpeg-huge", "hostile-png-huge", "icon-png-huge", "hostile-png-truncated", "hostile-jpeg-truncated",
        "hostile-gif-truncated", "banner-badurl", "text-pixel" };
    bool allMet = plain.state == AdlarkAd::StateReady;
    auto print = [&](const char* name, const Outcome& o) {
        const double peak = double(o.peak) / 1024, above = double(o.peak - plain.peak) / 1024;
        const bool met = o.state >= 0 && above <= allowance && o.seconds < 1;
        allMet = allMet && met;
        std::printf("%-24s %-7s %10.1f %+10.1f %9.1f  %s\n", name, o.state == 5 ? "ready" : o.state == 6 ? "failed" : "?",
            peak, above, o.seconds * 1000, met ? "ok" : "OVER");
    };
    print("text (plain)", plain);
    for (auto* scenario : scenarios)
        print(scenario, runChild(scenario, port));

    adnet.stop();

    const int rounds = 50;
    std::printf("\nmain-thread time per picture decode (%d rounds)\n", rounds);
    std::printf("%-32s %-8s %9s %9s\n", "picture", "result", "median ms", "worst ms");
    struct Picture {
        std::string name, bytes;
    };
    std::vector<Picture> pictures;
    for (auto& [name, bytes] : adnet::HostileMedia::shared().pictures)
        pictures.push_back({ name, bytes });
    pictures.push_back({ "allowed png 512x512 noise", noisyPng(512, 512) });
    pictures.push_back({ "allowed png 1024x256 noise", noisyPng(1024, 256) });
    pictures.push_back({ "allowed jpeg 512x512", adnet::flatJpeg(512, 512) });
    pictures.push_back({ "allowed jpeg 512x512 progressive", adnet::flatJpeg(512, 512, -1) });
    pictures.push_back({ "allowed gif 512x512", adnet::constantGif(512, 512, { { 512, 512 } }) });
    pictures.push_back({ "banner png 320x48", noisyPng(320, 48) });
    double hostileWorst = 0, hostileMedian = 0;
    const size_t hostileCount = adnet::HostileMedia::shared().pictures.size();
    for (size_t i = 0; i < pictures.size(); ++i) {
        bool decoded = false;
        auto [median, worst] = decodeTimes(pictures[i].bytes, rounds, decoded);
        if (i < hostileCount) {
            hostileWorst = std::max(hostileWorst, worst);
            hostileMedian = std::max(hostileMedian, median);
        }
        std::printf("%-32s %-8s %9.2f %9.2f\n", pictures[i].name.c_str(), decoded ? "picture" : "refused", median * 1000,
            worst * 1000);
    }
    std::printf("hostile set: slowest median %.2f ms, worst single decode %.2f ms\n", hostileMedian * 1000, hostileWorst * 1000);
    std::printf("\n%s\n", allMet ? "all requests within target" : "SOME REQUESTS OVER TARGET");
    return 0;
}
