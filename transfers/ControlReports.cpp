#include "transfers/ControlReports.h"

#include "kit/core/Utf8.h"
#include "kit/core/Utf8Decoder.h"

#include <climits>

namespace {

// Splits at single spaces; an empty field (two spaces) stays, so that it fails
// as a number.
std::vector<std::string_view> split(std::string_view text, char separator = ' ')
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// The text after the first n fields and their spaces; none when there are fewer.
std::optional<std::string_view> restAfter(std::string_view text, size_t n)
{
    size_t at = 0;
    for (size_t i = 0; i < n; ++i) {
        size_t space = text.find(' ', at);
        if (space == std::string_view::npos)
            return std::nullopt;
        at = space + 1;
    }
    return text.substr(at);
}

std::optional<int> smallCount(std::string_view text)
{
    auto value = ControlReports::count(text);
    if (!value || *value > INT_MAX)
        return std::nullopt;
    return int(*value);
}

// A limit may have been stored negative by a careless server; the client then
// has none, and so do we.
std::optional<long long> limit(std::string_view text)
{
    if (!text.empty() && text[0] == '-') {
        if (!ControlReports::count(text.substr(1)))
            return std::nullopt;
        return 0;
    }
    return ControlReports::count(text);
}

// "a,b" or "a:b" as two counts.
bool pair(std::string_view text, char separator, long long& a, long long& b)
{
    auto parts = split(text, separator);
    if (parts.size() != 2)
        return false;
    auto first = ControlReports::count(parts[0]);
    auto second = ControlReports::count(parts[1]);
    if (!first || !second)
        return false;
    a = *first;
    b = *second;
    return true;
}

bool smallPair(std::string_view text, int& a, int& b)
{
    long long first = 0, second = 0;
    if (!pair(text, ':', first, second) || first > INT_MAX || second > INT_MAX)
        return false;
    a = int(first);
    b = int(second);
    return true;
}

bool isFlag(char c, char yes, char no) { return c == yes || c == no; }

} // namespace

std::optional<long long> ControlReports::count(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string ControlReports::printable(std::string_view bytes, size_t maxLength)
{
    std::string out;
    for (char32_t c : kit::codepoints(bytes)) {
        bool control = c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0xFFFD || c == 0x2028 || c == 0x2029
            || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)
            || c == 0xFEFF;
        std::string piece;
        kit::appendUtf8(piece, control ? U'?' : c);
        if (out.size() + piece.size() > maxLength)
            break;
        out += piece;
    }
    return out;
}

std::optional<ClientIdentity> ControlReports::identity(std::string_view fields)
{
    // PEERID START NOW PATH. The id's printable part may hold a blank and the
    // path may hold any: the id ends before the first two numbers in a row.
    auto parts = split(fields);
    for (size_t i = 1; i + 2 < parts.size(); ++i) {
        auto start = count(parts[i]);
        auto now = count(parts[i + 1]);
        if (!start || !now)
            continue;
        auto path = restAfter(fields, i + 2);
        if (!path || path->empty())
            return std::nullopt;
        ClientIdentity identity;
        identity.peerId = printable(fields.substr(0, size_t(parts[i].data() - fields.data()) - 1), 128);
        identity.start = *start;
        identity.now = *now;
        // The path is matched against the one Quorvane gave the client, so it
        // is kept as sent; only a path that is no text is refused.
        for (unsigned char c : *path) {
            if (c < 0x20 || c == 0x7f)
                return std::nullopt;
        }
        identity.torrentPath = std::string(*path);
        if (identity.peerId.empty())
            return std::nullopt;
        return identity;
    }
    return std::nullopt;
}

std::optional<ClientStatus> ControlReports::status(std::string_view fields)
{
    // S:TS/L:TL/C H/N/A DR,UR DT,UT DL,UL K
    auto parts = split(fields);
    if (parts.size() != 6)
        return std::nullopt;
    ClientStatus status;
    auto peers = split(parts[0], '/');
    if (peers.size() != 3 || !smallPair(peers[0], status.seeders, status.trackerSeeders)
        || !smallPair(peers[1], status.leechers, status.trackerLeechers))
        return std::nullopt;
    auto connecting = smallCount(peers[2]);
    auto pieces = split(parts[1], '/');
    if (!connecting || pieces.size() != 3)
        return std::nullopt;
    status.connecting = *connecting;
    auto have = count(pieces[0]), total = count(pieces[1]), available = count(pieces[2]);
    if (!have || !total || !available || *have > *total)
        return std::nullopt;
    status.piecesHave = *have;
    status.piecesTotal = *total;
    status.piecesAvailable = std::min(*available, *total);
    auto limits = split(parts[4], ',');
    if (!pair(parts[2], ',', status.downRate, status.upRate) || !pair(parts[3], ',', status.downTotal, status.upTotal)
        || limits.size() != 2)
        return std::nullopt;
    auto downLimit = limit(limits[0]), upLimit = limit(limits[1]);
    auto cache = count(parts[5]);
    if (!downLimit || !upLimit || !cache)
        return std::nullopt;
    status.downLimit = *downLimit;
    status.upLimit = *upLimit;
    status.cacheKB = *cache;
    return status;
}

std::optional<ClientBandwidth> ControlReports::bandwidth(std::string_view fields)
{
    // DR,UR DL,UL
    auto parts = split(fields);
    if (parts.size() != 2)
        return std::nullopt;
    ClientBandwidth bandwidth;
    auto limits = split(parts[1], ',');
    if (!pair(parts[0], ',', bandwidth.downRate, bandwidth.upRate) || limits.size() != 2)
        return std::nullopt;
    auto downLimit = limit(limits[0]), upLimit = limit(limits[1]);
    if (!downLimit || !upLimit)
        return std::nullopt;
    bandwidth.downLimit = *downLimit;
    bandwidth.upLimit = *upLimit;
    return bandwidth;
}

std::optional<ClientInfo> ControlReports::info(std::string_view fields)
{
    // SEV TEXT
    size_t space = fields.find(' ');
    auto severity = smallCount(fields.substr(0, space));
    if (!severity)
        return std::nullopt;
    ClientInfo info;
    info.severity = *severity;
    if (space != std::string_view::npos)
        info.text = printable(fields.substr(space + 1));
    return info;
}

std::optional<ClientDetail> ControlReports::detail(std::string_view fields)
{
    // BYTES PIECELEN NOW SEEDSINCE
    auto parts = split(fields);
    if (parts.size() != 4)
        return std::nullopt;
    auto bytes = count(parts[0]), pieceLength = count(parts[1]), now = count(parts[2]), since = count(parts[3]);
    if (!bytes || !pieceLength || !now || !since)
        return std::nullopt;
    ClientDetail detail;
    detail.bytes = *bytes;
    detail.pieceLength = *pieceLength;
    detail.now = *now;
    detail.seedingSince = *since;
    return detail;
}

std::optional<ClientFile> ControlReports::file(std::string_view fields)
{
    // N PRIO CUR PIECES HAVE AVAIL SIZE NAME
    auto parts = split(fields);
    auto name = restAfter(fields, 7);
    if (parts.size() < 8 || !name)
        return std::nullopt;
    auto number = smallCount(parts[0]), priority = smallCount(parts[1]), current = smallCount(parts[2]);
    auto pieces = count(parts[3]), have = count(parts[4]), available = count(parts[5]), size = count(parts[6]);
    if (!number || *number < 1 || !priority || !current || !pieces || !have || !available || !size || *have > *pieces)
        return std::nullopt;
    ClientFile file;
    file.number = *number;
    file.priority = *priority;
    file.current = *current;
    file.pieces = *pieces;
    file.have = *have;
    file.available = std::min(*available, *pieces);
    file.size = *size;
    file.name = printable(*name, ClientFile::maxNameLength);
    return file;
}

std::optional<ClientPeer> ControlReports::peer(std::string_view fields)
{
    // ID IP FLAGS DR UR DT UT PIECES, read from the end: the id's printable
    // part may hold a blank.
    auto parts = split(fields);
    if (parts.size() < 8)
        return std::nullopt;
    size_t n = parts.size();
    ClientPeer peer;
    long long* numbers[] = { &peer.downRate, &peer.upRate, &peer.downTotal, &peer.upTotal, &peer.pieces };
    for (size_t i = 0; i < 5; ++i) {
        auto value = count(parts[n - 5 + i]);
        if (!value)
            return std::nullopt;
        *numbers[i] = *value;
    }
    auto flags = parts[n - 6];
    if (flags.size() != 4 || !isFlag(flags[0], 'C', 'U') || !isFlag(flags[1], 'i', 'n') || !isFlag(flags[2], 'C', 'U')
        || !isFlag(flags[3], 'i', 'n'))
        return std::nullopt;
    peer.flags = std::string(flags);
    auto address = parts[n - 7];
    if (address.empty())
        return std::nullopt;
    peer.address = printable(address, 64);
    peer.id = printable(fields.substr(0, size_t(address.data() - fields.data()) - 1), 128);
    if (peer.id.empty())
        return std::nullopt;
    return peer;
}

std::string ClientPeer::relationText() const
{
    if (flags.size() != 4)
        return {};
    std::string text = chokesUs() ? "Chokes us" : "Sends to us";
    text += weAreInterested() ? ", we want its pieces; " : ", we want nothing from it; ";
    text += weChokeIt() ? "we choke it" : "we send to it";
    text += isInterested() ? ", it wants our pieces" : ", it wants nothing from us";
    return text;
}
