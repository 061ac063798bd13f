#include "torrent/Magnet.h"

#include "torrent/TorrentContents.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace torrent {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); });
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::tolower((unsigned char)c));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// %XX and '+' decoded; a bad escape is kept as it stands.
std::string decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (text[i] == '+') {
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<std::array<uint8_t, 20>> hashOf(std::string_view text)
{
    std::array<uint8_t, 20> hash {};
    if (text.size() == 40) {
        for (size_t i = 0; i < 20; ++i) {
            int hi = hexValue(text[2 * i]), lo = hexValue(text[2 * i + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            hash[i] = uint8_t(hi * 16 + lo);
        }
        return hash;
    }
    if (text.size() == 32) {
        // RFC 4648 base32: 32 characters of 5 bits are the 160 bits.
        uint64_t bits = 0;
        int have = 0;
        size_t at = 0;
        for (char c : text) {
            c = char(std::toupper((unsigned char)c));
            int v = c >= 'A' && c <= 'Z' ? c - 'A' : c >= '2' && c <= '7' ? c - '2' + 26 : -1;
            if (v < 0)
                return std::nullopt;
            bits = (bits << 5) | uint64_t(v);
            have += 5;
            if (have >= 8) {
                have -= 8;
                hash[at++] = uint8_t(bits >> have);
            }
        }
        return hash;
    }
    return std::nullopt;
}

std::optional<MagnetPeer> peerOf(std::string_view text)
{
    auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || text.front() == '[')
        return std::nullopt; // IPv6 is of no use to the client
    unsigned port = 0;
    auto digits = text.substr(colon + 1);
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535)
        return std::nullopt;
    std::string host(text.substr(0, colon));
    if (host.size() > 253 || !std::all_of(host.begin(), host.end(), [](char c) { return std::isalnum((unsigned char)c) || c == '.' || c == '-'; }))
        return std::nullopt;
    return MagnetPeer { std::move(host), uint16_t(port) };
}

bool isTrackerAddress(std::string_view url)
{
    return (startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://") || startsWithNoCase(url, "udp://")) && url.size() <= 2048
        && std::none_of(url.begin(), url.end(), [](char c) { return (unsigned char)c < 0x21 || c == 0x7f; });
}

// A name fit for a file in the downloads folder: one plain component.
std::string safeName(std::string name)
{
    for (auto& c : name)
        if (c == '/' || c == '\\' || (unsigned char)c < 0x20 || c == 0x7f)
            c = '_';
    if (name.size() > Magnet::maxNameLength)
        name.resize(Magnet::maxNameLength);
    // A cut may leave half a character: drop what is not whole UTF-8 at the end.
    while (!name.empty() && (unsigned char)name.back() >= 0x80) {
        size_t lead = name.size() - 1;
        while (lead > 0 && ((unsigned char)name[lead] & 0xC0) == 0x80)
            --lead;
        const unsigned char c = (unsigned char)name[lead];
        const size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (name.size() - lead == want)
            break;
        name.resize(lead);
    }
    return isSafeComponent(name) ? name : std::string();
}

// How the canonical link writes a value: unreserved characters as they are, the rest as %XX.
std::string escaped(std::string_view text)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
            out += char(c);
        else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

constexpr std::string_view linkStart = "magnet:?xt=urn:btih:";

} // namespace

bool isMagnetLink(std::string_view text) { return startsWithNoCase(text, "magnet:"); }

std::string Magnet::hashText() const
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : infoHash) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Magnet::link() const
{
    std::string out = std::string(linkStart) + hashText();
    if (!name.empty())
        out += "&dn=" + escaped(name);
    for (auto& t : trackers)
        out += "&tr=" + escaped(t);
    for (auto& p : peers)
        out += "&x.pe=" + escaped(p.host + ":" + std::to_string(p.port));
    return out;
}

MagnetResult parseMagnet(std::string_view text)
{
    if (!isMagnetLink(text))
        return { std::nullopt, "This is not a magnet link." };
    if (text.size() > Magnet::maxLength)
        return { std::nullopt, "The magnet link is too long." };
    text.remove_prefix(7);
    if (!text.empty() && text.front() == '?')
        text.remove_prefix(1);
    Magnet magnet;
    bool haveV1 = false, haveV2 = false;
    // The canonical link (the stored one) escapes more than a link need:
    // trackers and peers that would take it past the bound are left out, so
    // that it always reads back. Room for the longest name is kept.
    size_t canonical = linkStart.size() + 40 + std::string_view("&dn=").size() + 3 * Magnet::maxNameLength;
    while (!text.empty()) {
        auto amp = text.find('&');
        auto part = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        auto eq = part.find('=');
        if (eq == std::string_view::npos)
            continue;
        auto key = part.substr(0, eq);
        auto value = decode(part.substr(eq + 1));
        // Numbered keys (xt.1, tr.2) are the same keys.
        if (auto dot = key.find('.'); dot != std::string_view::npos && key.substr(0, dot) != "x")
            key = key.substr(0, dot);
        if (key == "xt") {
            if (startsWithNoCase(value, "urn:btih:")) {
                if (auto hash = hashOf(std::string_view(value).substr(9)); hash && !haveV1) {
                    magnet.infoHash = *hash;
                    haveV1 = true;
                } else if (!hash) {
                    return { std::nullopt, "The magnet link's info-hash is not 40 hex digits or 32 base32 letters." };
                }
            } else if (startsWithNoCase(value, "urn:btmh:")) {
                haveV2 = true;
            }
        } else if (key == "dn") {
            if (magnet.name.empty())
                magnet.name = safeName(value);
        } else if (key == "tr") {
            const size_t more = std::string_view("&tr=").size() + escaped(value).size();
            if (magnet.trackers.size() < Magnet::maxTrackers && isTrackerAddress(value) && canonical + more <= Magnet::maxLength
                && std::find(magnet.trackers.begin(), magnet.trackers.end(), value) == magnet.trackers.end()) {
                magnet.trackers.push_back(value);
                canonical += more;
            }
        } else if (key == "x.pe") {
            auto peer = peerOf(value);
            const size_t more = peer ? std::string_view("&x.pe=").size() + escaped(peer->host + ":" + std::to_string(peer->port)).size() : 0;
            if (peer && magnet.peers.size() < Magnet::maxPeers && canonical + more <= Magnet::maxLength) {
                magnet.peers.push_back(*peer);
                canonical += more;
            }
        }
    }
    if (!haveV1) {
        if (haveV2)
            return { std::nullopt, "This magnet link names only a version 2 torrent, which the transfer client cannot download." };
        return { std::nullopt, "The magnet link names no BitTorrent info-hash." };
    }
    magnet.hybrid = haveV2;
    return { std::move(magnet), {} };
}

} // namespace torrent
