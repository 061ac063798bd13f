#pragma once
// The ad network's answers: ad requests by scenario, media, clicks, the
// accounting pixel and a landing page. Installs its routes on an httplib
// server; one server may carry both the ad server and the media host.
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>
#include <atomic>

namespace httplib {
class Server;
}

namespace adnet {

struct Options {
    std::string adHost = "ads.example.test";
    std::string mediaHost = "media.example.test";
    double slowSeconds = 30;
    // Answers for requests that name no scenario, taken in turn (cycling).
    std::vector<std::string> scenarios;
};

class AdNetwork {
public:
    AdNetwork(Options options, std::FILE* log);

    // role: "ad", "media" or "both" (the name that goes into the log).
    void install(httplib::Server& server, const std::string& role);
    // Whether a name chooses an ad answer.
    static bool knowsScenario(const std::string& name);
    // Wakes slow answers so that the servers can stop.
    void shutdown();

private:
    void logRequest(const std::string& role, const void* request);
    bool waitOrStop(double seconds);
    std::string scenarioFor(const void* request);

    Options m_options;
    std::FILE* m_log;
    std::mutex m_logLock;
    std::mutex m_stopLock;
    std::condition_variable m_stopSignal;
    bool m_stopping { false };
    std::atomic<size_t> m_turn { 0 };
};

} // namespace adnet
