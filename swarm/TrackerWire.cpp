#include "swarm/TrackerWire.h"

#include <arpa/inet.h>

#include "torrent/Bencode.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace swarm {
namespace {

bool isUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
}

std::string escapeBytes(const uint8_t* bytes, size_t length)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        if (isUnreserved(bytes[i])) {
            out += char(bytes[i]);
        } else {
            out += '%';
            out += hex[bytes[i] >> 4];
            out += hex[bytes[i] & 15];
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Strict: a malformed escape is no value.
std::optional<std::string> unescape(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += char(high << 4 | low);
        i += 2;
    }
    return out;
}

std::optional<uint64_t> number(std::string_view text)
{
    uint64_t value = 0;
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

void putU16(std::string& out, uint16_t value)
{
    out += char(value >> 8);
    out += char(value);
}

void putU32(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char(value >> shift);
}

void putU64(std::string& out, uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8)
        out += char(value >> shift);
}

uint32_t getU32(std::string_view bytes, size_t at)
{
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 | uint32_t(uint8_t(bytes[at + 2])) << 8
        | uint8_t(bytes[at + 3]);
}

uint64_t getU64(std::string_view bytes, size_t at)
{
    return uint64_t(getU32(bytes, at)) << 32 | getU32(bytes, at + 4);
}

uint32_t clampInterval(long long value)
{
    return uint32_t(std::clamp<long long>(value, shortestInterval, longestInterval));
}

uint32_t count(long long value)
{
    return uint32_t(std::clamp<long long>(value, 0, UINT32_MAX));
}

// Whole 6-byte entries; nothing when the block is not whole.
bool readCompactPeers(std::string_view block, std::vector<Peer>& peers)
{
    if (block.size() % 6 != 0)
        return false;
    for (size_t at = 0; at < block.size() && peers.size() < maxPeersPerAnswer; at += 6) {
        Peer peer { getU32(block, at), uint16_t(uint8_t(block[at + 4]) << 8 | uint8_t(block[at + 5])) };
        if (peer.address != 0 && peer.port != 0)
            peers.push_back(peer);
    }
    return true;
}

std::optional<uint32_t> dottedAddress(std::string_view text)
{
    uint32_t address = 0;
    int parts = 0;
    size_t at = 0;
    while (parts < 4) {
        size_t end = text.find('.', at);
        std::string_view part = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        auto value = number(part);
        if (!value || *value > 255 || part.size() > 3)
            return std::nullopt;
        address = address << 8 | uint32_t(*value);
        ++parts;
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    if (parts != 4)
        return std::nullopt;
    return address;
}

void putString(std::string& out, std::string_view text)
{
    out += std::to_string(text.size());
    out += ':';
    out += text;
}

void putInteger(std::string& out, long long value)
{
    out += 'i';
    out += std::to_string(value);
    out += 'e';
}

} // namespace

std::string cleanText(std::string_view text, size_t limit)
{
    std::string out;
    for (unsigned char c : text) {
        if (out.size() >= limit)
            break;
        bool blank = c < 0x20 || c == 0x7f || c == ' ';
        if (blank) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
            continue;
        }
        // Bytes past ASCII may be half a character once cut; a '?' says something was there.
        out += c < 0x80 ? char(c) : '?';
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::optional<TrackerUrl> parseTrackerUrl(std::string_view url)
{
    if (url.empty() || url.size() > maxUrlLength)
        return std::nullopt;
    for (unsigned char c : url)
        if (c <= 0x20 || c >= 0x7f)
            return std::nullopt;
    TrackerUrl out;
    size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos)
        return std::nullopt;
    std::string scheme(url.substr(0, schemeEnd));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (scheme == "http") {
        out.scheme = TrackerUrl::Scheme::Http;
        out.port = 80;
    } else if (scheme == "https") {
        out.scheme = TrackerUrl::Scheme::Https;
        out.port = 443;
    } else if (scheme == "udp") {
        out.scheme = TrackerUrl::Scheme::Udp;
    } else {
        return std::nullopt;
    }
    std::string_view rest = url.substr(schemeEnd + 3);
    size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view tail = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    if (size_t fragment = tail.find('#'); fragment != std::string_view::npos)
        tail = tail.substr(0, fragment);
    // user:password@ would show a secret: such a URL is no tracker of ours.
    if (authority.find('@') != std::string_view::npos)
        return std::nullopt;
    std::string_view host = authority, portText;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return std::nullopt;
            portText = after.substr(1);
        }
    } else if (size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
    }
    if (host.empty() || host.size() > 253)
        return std::nullopt;
    for (unsigned char c : host)
        if (!(std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == ':'))
            return std::nullopt;
    if (!portText.empty()) {
        auto port = number(portText);
        if (!port || *port == 0 || *port > 65535)
            return std::nullopt;
        out.port = uint16_t(*port);
    }
    if (out.port == 0)
        return std::nullopt;
    out.host = host;
    out.pathAndQuery = tail.empty() ? "/" : std::string(tail);
    out.display = std::string(authority);
    return out;
}

std::string httpAnnounceUrl(std::string_view trackerUrl, const AnnounceParams& params)
{
    std::string url(trackerUrl.substr(0, trackerUrl.find('#')));
    url += url.find('?') == std::string::npos ? '?' : '&';
    url += "info_hash=" + escapeBytes(params.infoHash.data(), params.infoHash.size());
    url += "&peer_id=" + escapeBytes(params.peerId.data(), params.peerId.size());
    url += "&port=" + std::to_string(params.port);
    url += "&uploaded=" + std::to_string(params.uploaded);
    url += "&downloaded=" + std::to_string(params.downloaded);
    url += "&left=" + std::to_string(params.left);
    char key[9];
    static constexpr char hex[] = "0123456789ABCDEF";
    for (int i = 0; i < 8; ++i)
        key[i] = hex[(params.key >> (28 - 4 * i)) & 15];
    key[8] = 0;
    url += "&key=";
    url += key;
    switch (params.event) {
    case Event::Started: url += "&event=started"; break;
    case Event::Stopped: url += "&event=stopped"; break;
    case Event::Completed: url += "&event=completed"; break;
    case Event::None: break;
    }
    if (params.numwant >= 0)
        url += "&numwant=" + std::to_string(params.numwant);
    url += "&compact=1&no_peer_id=1";
    return url;
}

std::optional<TrackerAnswer> parseHttpAnswer(std::string_view body)
{
    // A dictionary two levels deep at most: the peers' list of dictionaries.
    auto parsed = torrent::parse(body, 3);
    if (!parsed.value || !parsed.value->isDictionary())
        return std::nullopt;
    const torrent::Value& top = *parsed.value;
    TrackerAnswer answer;
    if (const auto* reason = top.find("failure reason")) {
        answer.failed = true;
        answer.failure = reason->isString() ? cleanText(reason->string) : std::string();
        if (answer.failure.empty())
            answer.failure = "The tracker refused";
        if (const auto* retry = top.find("retry in"); retry && retry->asInteger())
            answer.retryIn = clampInterval(std::min<long long>(*retry->asInteger(), longestInterval) * 60);
        return answer;
    }
    const auto* interval = top.find("interval");
    const auto* peers = top.find("peers");
    if (!interval && !peers)
        return std::nullopt;
    if (interval) {
        if (!interval->asInteger())
            return std::nullopt;
        answer.interval = clampInterval(*interval->asInteger());
    }
    if (const auto* minInterval = top.find("min interval"); minInterval && minInterval->asInteger())
        answer.minInterval = std::min(answer.interval, uint32_t(std::clamp<long long>(*minInterval->asInteger(), 0, longestInterval)));
    if (const auto* complete = top.find("complete"); complete && complete->asInteger())
        answer.seeders = count(*complete->asInteger());
    if (const auto* incomplete = top.find("incomplete"); incomplete && incomplete->asInteger())
        answer.leechers = count(*incomplete->asInteger());
    if (const auto* external = top.find("external ip"); external && external->isString() && external->string.size() == 4)
        answer.externalAddress = getU32(external->string, 0);
    if (peers && peers->isString()) {
        if (!readCompactPeers(peers->string, answer.peers))
            return std::nullopt;
    } else if (peers && peers->isList()) {
        for (const auto& item : peers->items) {
            if (answer.peers.size() >= maxPeersPerAnswer)
                break;
            const auto* ip = item.find("ip");
            const auto* port = item.find("port");
            if (!ip || !ip->isString() || !port || !port->asInteger())
                continue;
            auto address = dottedAddress(ip->string);
            long long portValue = *port->asInteger();
            if (address && *address != 0 && portValue > 0 && portValue <= 65535)
                answer.peers.push_back({ *address, uint16_t(portValue) });
        }
    } else if (peers) {
        return std::nullopt;
    }
    return answer;
}

std::string udpConnectRequest(uint32_t transaction)
{
    std::string out;
    putU64(out, udpProtocolId);
    putU32(out, udpConnect);
    putU32(out, transaction);
    return out;
}

std::string udpAnnounceRequest(uint64_t connection, uint32_t transaction, const AnnounceParams& params, std::string_view pathAndQuery)
{
    std::string out;
    putU64(out, connection);
    putU32(out, udpAnnounce);
    putU32(out, transaction);
    out.append(reinterpret_cast<const char*>(params.infoHash.data()), params.infoHash.size());
    out.append(reinterpret_cast<const char*>(params.peerId.data()), params.peerId.size());
    putU64(out, params.downloaded);
    putU64(out, params.left);
    putU64(out, params.uploaded);
    putU32(out, uint32_t(params.event));
    putU32(out, 0); // our address: the one the tracker sees
    putU32(out, params.key);
    putU32(out, uint32_t(params.numwant));
    putU16(out, params.port);
    // The path and query, in chunks of at most 255 bytes; "/announce" alone says nothing.
    std::string_view request = pathAndQuery.substr(0, maxUrlLength);
    if (request != "/" && request != "/announce") {
        while (!request.empty()) {
            size_t chunk = std::min<size_t>(request.size(), 255);
            out += char(2);
            out += char(chunk);
            out.append(request.substr(0, chunk));
            request.remove_prefix(chunk);
        }
    }
    return out;
}

UdpReply parseUdpReply(std::string_view bytes, uint32_t transaction, uint32_t action)
{
    UdpReply reply;
    if (bytes.size() < 8 || getU32(bytes, 4) != transaction)
        return reply;
    uint32_t got = getU32(bytes, 0);
    if (got == udpError) {
        reply.kind = UdpReply::Kind::Error;
        reply.message = cleanText(bytes.substr(8));
        if (reply.message.empty())
            reply.message = "The tracker refused";
        return reply;
    }
    if (got != action)
        return reply;
    if (action == udpConnect) {
        if (bytes.size() < 16)
            return reply;
        reply.kind = UdpReply::Kind::Connected;
        reply.connection = getU64(bytes, 8);
        return reply;
    }
    if (action != udpAnnounce || bytes.size() < 20)
        return reply;
    TrackerAnswer& answer = reply.answer;
    answer.interval = clampInterval(getU32(bytes, 8));
    answer.leechers = getU32(bytes, 12);
    answer.seeders = getU32(bytes, 16);
    if (!readCompactPeers(bytes.substr(20), answer.peers)) {
        reply.kind = UdpReply::Kind::Bad;
        reply.message = "Bad answer";
        return reply;
    }
    reply.kind = UdpReply::Kind::Announced;
    return reply;
}

bool isTokenText(std::string_view token)
{
    if (token.empty() || token.size() > maxTokenLength)
        return false;
    for (unsigned char c : token)
        if (!(std::isalnum(c) || c == '-' || c == '_'))
            return false;
    return true;
}

ClientAnnounceResult parseClientAnnounce(std::string_view target)
{
    ClientAnnounceResult result;
    size_t queryAt = target.find('?');
    std::string_view path = target.substr(0, queryAt);
    std::string_view query = queryAt == std::string_view::npos ? std::string_view() : target.substr(queryAt + 1);
    static constexpr std::string_view suffix = "/announce";
    if (path.size() < 1 + suffix.size() || path.front() != '/' || path.substr(path.size() - suffix.size()) != suffix
        || !isTokenText(path.substr(1, path.size() - 1 - suffix.size()))) {
        result.notFound = true;
        return result;
    }
    ClientAnnounce announce;
    announce.token = path.substr(1, path.size() - 1 - suffix.size());
    result.token = announce.token;
    bool hasHash = false, hasPeer = false, hasPort = false;
    auto refuse = [&](std::string why) {
        result.problem = std::move(why);
        return result;
    };
    while (!query.empty()) {
        size_t end = query.find('&');
        std::string_view pair = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
        size_t equals = pair.find('=');
        std::string_view name = pair.substr(0, equals);
        auto value = unescape(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
        if (!value)
            return refuse("malformed escape in " + cleanText(name, 32));
        if (name == "info_hash" || name == "peer_id") {
            if (value->size() != 20)
                return refuse(std::string(name) + " is not 20 bytes");
            auto& into = name == "info_hash" ? announce.infoHash : announce.peerId;
            std::copy(value->begin(), value->end(), into.begin());
            (name == "info_hash" ? hasHash : hasPeer) = true;
        } else if (name == "port") {
            auto port = number(*value);
            if (!port || *port == 0 || *port > 65535)
                return refuse("invalid port");
            announce.port = uint16_t(*port);
            hasPort = true;
        } else if (name == "uploaded" || name == "downloaded" || name == "left") {
            auto amount = number(*value);
            if (!amount || *amount > uint64_t(INT64_MAX))
                return refuse("invalid " + std::string(name));
            (name == "uploaded" ? announce.uploaded : name == "downloaded" ? announce.downloaded : announce.left) = *amount;
        } else if (name == "event") {
            if (*value == "started")
                announce.event = Event::Started;
            else if (*value == "stopped")
                announce.event = Event::Stopped;
            else if (*value == "completed")
                announce.event = Event::Completed;
            else if (value->empty() || *value == "empty")
                announce.event = Event::None;
            else
                return refuse("invalid event");
        } else if (name == "numwant") {
            auto wanted = number(*value);
            if (!wanted)
                return refuse("invalid numwant");
            announce.numwant = size_t(std::min<uint64_t>(*wanted, maxNumwant));
        } else if (name == "key") {
            // The client's own key, folded to the 32 bits a UDP announce carries.
            uint32_t key = 2166136261u;
            for (unsigned char c : value->substr(0, 64))
                key = (key ^ c) * 16777619u;
            announce.key = key;
        }
    }
    if (!hasHash)
        return refuse("missing info_hash");
    if (!hasPeer)
        return refuse("missing peer_id");
    if (!hasPort)
        return refuse("missing port");
    result.announce = std::move(announce);
    return result;
}

std::string compactAnswer(uint32_t interval, uint32_t minInterval, uint32_t seeders, uint32_t leechers, const std::vector<Peer>& peers)
{
    std::string block;
    for (const auto& peer : peers) {
        putU32(block, peer.address);
        putU16(block, peer.port);
    }
    std::string out = "d";
    putString(out, "complete");
    putInteger(out, seeders);
    putString(out, "incomplete");
    putInteger(out, leechers);
    putString(out, "interval");
    putInteger(out, interval);
    putString(out, "min interval");
    putInteger(out, minInterval);
    putString(out, "peers");
    putString(out, block);
    out += 'e';
    return out;
}

std::string failureAnswer(std::string_view reason)
{
    std::string out = "d";
    putString(out, "failure reason");
    putString(out, cleanText(reason));
    out += 'e';
    return out;
}

} // namespace swarm

namespace swarm {

std::optional<Peer> peerAt(const std::string& address, uint16_t port)
{
    in_addr parsed {};
    if (port == 0 || ::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return std::nullopt;
    return Peer { ntohl(parsed.s_addr), port };
}

std::string addressText(const Peer& peer)
{
    in_addr address { htonl(peer.address) };
    char text[INET_ADDRSTRLEN] {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string hideAddressPaths(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (true) {
        const size_t mark = text.find("://", at);
        if (mark == std::string_view::npos) {
            out.append(text.substr(at));
            return out;
        }
        // The host runs to the first '/', '?' or '#'; the rest of the address to a blank or a quote.
        size_t end = mark + 3;
        auto stops = [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '\'' || c == '<' || c == '>'; };
        while (end < text.size() && !stops(text[end]) && text[end] != '/' && text[end] != '?' && text[end] != '#')
            ++end;
        // Who logs in is no one's business either: "user:password@" goes.
        const auto host = text.substr(mark + 3, end - mark - 3);
        const auto login = host.rfind('@');
        out.append(text.substr(at, mark + 3 - at));
        out.append(login == std::string_view::npos ? host : host.substr(login + 1));
        size_t rest = end;
        while (rest < text.size() && !stops(text[rest]))
            ++rest;
        if (rest > end)
            out += "/\u2026";
        at = rest;
    }
}

} // namespace swarm
