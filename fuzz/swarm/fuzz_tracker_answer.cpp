// libFuzzer target for what trackers and clients send the gateway: UDP
// replies, HTTP answers, the client's announce query, tracker addresses and
// the .torrent's tracker list. The first byte picks the reader. Besides
// crashes and sanitizer findings it checks the bounds the gateway relies on.
#include "fuzz/FuzzCheck.h"
#include "swarm/TorrentTrackers.h"
#include "swarm/TrackerWire.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using fuzzcheck::check;
using namespace swarm;

namespace {

bool printable(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c >= 0x7f)
            return false;
    return true;
}

void checkAnswer(const TrackerAnswer& answer)
{
    check(answer.peers.size() <= maxPeersPerAnswer);
    check(answer.interval >= shortestInterval && answer.interval <= longestInterval);
    check(answer.minInterval <= answer.interval);
    check(answer.failure.size() <= maxReasonLength && printable(answer.failure));
    for (const auto& peer : answer.peers)
        check(peer.address != 0 && peer.port != 0);
    // What we would hand the client reads back the same.
    if (!answer.failed) {
        auto again = parseHttpAnswer(compactAnswer(answer.interval, answer.minInterval, 1, 2, answer.peers));
        check(again && again->peers == answer.peers && again->seeders == 1u && again->leechers == 2u);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0: {
        // The transaction is the datagram's own, so that replies get past the first check.
        uint32_t transaction = bytes.size() >= 8
            ? uint32_t(uint8_t(bytes[4])) << 24 | uint32_t(uint8_t(bytes[5])) << 16 | uint32_t(uint8_t(bytes[6])) << 8 | uint8_t(bytes[7])
            : 0;
        for (uint32_t action : { udpConnect, udpAnnounce }) {
            auto reply = parseUdpReply(bytes, transaction, action);
            check(reply.message.size() <= maxReasonLength && printable(reply.message));
            if (reply.kind == UdpReply::Kind::Announced) {
                check(action == udpAnnounce && (bytes.size() - 20) % 6 == 0);
                checkAnswer(reply.answer);
            }
            if (reply.kind == UdpReply::Kind::Connected)
                check(action == udpConnect && bytes.size() >= 16);
        }
        break;
    }
    case 1:
        if (auto answer = parseHttpAnswer(bytes))
            checkAnswer(*answer);
        break;
    case 2: {
        auto result = parseClientAnnounce(bytes);
        check(!(result.announce && result.notFound));
        if (result.announce) {
            check(isTokenText(result.announce->token) && result.announce->port != 0);
            check(result.announce->numwant <= maxNumwant);
        }
        auto refusal = parseHttpAnswer(failureAnswer(result.problem));
        check(refusal && refusal->failed);
        break;
    }
    case 3:
        if (auto url = parseTrackerUrl(bytes)) {
            // What is shown never holds the path or query.
            check(url->display.find_first_of("/?#") == std::string::npos && url->port != 0);
            check(!url->pathAndQuery.empty() && (url->pathAndQuery.front() == '/' || url->pathAndQuery.front() == '?'));
            AnnounceParams params;
            auto request = udpAnnounceRequest(1, 2, params, url->pathAndQuery);
            check(request.size() >= 98 && request.size() <= 98 + maxUrlLength + 2 * (maxUrlLength / 255 + 1));
        }
        break;
    case 4:
        if (auto trackers = readTrackers(bytes)) {
            check(trackers->infoHash.size() == 20);
            size_t count = 0;
            for (const auto& tier : trackers->tiers) {
                check(!tier.empty());
                count += tier.size();
                for (const auto& url : tier)
                    check(parseTrackerUrl(url).has_value());
            }
            check(count <= maxTrackers);
        }
        break;
    }
    return 0;
}
