#include "transfers/ServiceProtocol.h"

#include "kit/core/LineEscape.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace service {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    return parts;
}

} // namespace

std::string realText(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::optional<double> realOf(std::string_view text)
{
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

Message& Message::set(const std::string& key, const std::optional<long long>& value)
{
    if (value)
        set(key, *value);
    return *this;
}

const std::string& Message::text(const std::string& key) const
{
    static const std::string none;
    auto it = fields.find(key);
    return it == fields.end() ? none : it->second;
}

std::optional<long long> Message::number(const std::string& key) const
{
    auto it = fields.find(key);
    return it == fields.end() ? std::nullopt : wholeNumber(it->second);
}

std::string encode(const Message& message)
{
    std::string out = message.kind;
    for (auto& [key, value] : message.fields) {
        out += '\t';
        out += key;
        out += '=';
        out += kit::escapeLine(value);
    }
    return out;
}

std::optional<Message> decode(std::string_view text)
{
    auto parts = split(text, '\t');
    Message message { std::string(parts[0]) };
    if (message.kind.empty())
        return std::nullopt;
    for (size_t i = 1; i < parts.size(); ++i) {
        auto equals = parts[i].find('=');
        if (equals == std::string_view::npos || equals == 0)
            return std::nullopt;
        auto value = kit::unescapeLine(parts[i].substr(equals + 1));
        if (!value)
            return std::nullopt;
        message.fields[std::string(parts[i].substr(0, equals))] = std::move(*value);
    }
    return message;
}

std::string numberList(const std::set<int>& numbers)
{
    std::string out;
    for (int n : numbers) {
        if (!out.empty())
            out += ',';
        out += std::to_string(n);
    }
    return out;
}

std::optional<std::set<int>> numbersOf(std::string_view text)
{
    std::set<int> numbers;
    if (text.empty())
        return numbers;
    for (auto part : split(text, ',')) {
        auto n = wholeNumber(part);
        if (!n || *n < 1 || *n > 10'000'000)
            return std::nullopt;
        numbers.insert(int(*n));
    }
    return numbers;
}

Message snapshotMessage(const TransferSnapshot& t)
{
    Message m("T");
    m.set("id", (long long)t.id).set("path", t.path).set("name", t.name);
    m.set("status", t.status).set("prog", t.prog).set("down", t.down).set("up", t.up).set("shown", t.shown);
    m.set("hasText", t.hasText).set("state", (long long)t.state).set("stateText", t.stateText);
    m.set("percent", t.percentText).set("rates", t.ratesText).set("spokenRates", t.spokenRatesText).set("timeLeft", t.timeLeftText);
    m.set("hasLatest", t.hasLatest).set("fraction", realText(t.fraction)).set("stored", (long long)t.storedState);
    m.set("hasClient", t.hasClient).set("running", t.running).set("paused", t.paused).set("queued", t.queued);
    m.set("quitting", t.quitting).set("restartWhenGone", t.restartWhenGone).set("ownClientRunning", t.ownClientRunning);
    m.set("note", t.note).set("ownDown", t.ownDownloadLimit).set("ownUp", t.ownUploadLimit);
    if (t.seedHours)
        m.set("seedHours", (long long)*t.seedHours);
    if (t.seedRatio)
        m.set("seedRatio", realText(*t.seedRatio));
    if (t.chosenFiles)
        m.set("chosen", numberList(*t.chosenFiles));
    m.set("hasChannel", t.hasChannel).set("connected", t.channelConnected);
    if (t.clientStatus) {
        const auto& s = *t.clientStatus;
        m.set("status.peers", std::to_string(s.seeders) + "," + std::to_string(s.trackerSeeders) + "," + std::to_string(s.leechers) + ","
                + std::to_string(s.trackerLeechers) + "," + std::to_string(s.connecting));
        m.set("status.figures", std::to_string(s.piecesHave) + "," + std::to_string(s.piecesTotal) + "," + std::to_string(s.piecesAvailable) + ","
                + std::to_string(s.downRate) + "," + std::to_string(s.upRate) + "," + std::to_string(s.downTotal) + "," + std::to_string(s.upTotal) + ","
                + std::to_string(s.downLimit) + "," + std::to_string(s.upLimit) + "," + std::to_string(s.cacheKB));
    }
    if (t.files)
        m.set("files", (long long)t.filesVersion);
    std::string peers;
    for (auto& p : t.peers) {
        peers += p.id + ' ' + p.address + ' ' + (p.flags.empty() ? "-" : p.flags) + ' ' + std::to_string(p.downRate) + ' ' + std::to_string(p.upRate) + ' '
            + std::to_string(p.downTotal) + ' ' + std::to_string(p.upTotal) + ' ' + std::to_string(p.pieces) + '\n';
    }
    if (!peers.empty())
        m.set("peers", peers);
    // A tracker's words are its own: no line break or tab may split the line.
    auto plain = [](std::string text) {
        for (auto& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = ' ';
        return text;
    };
    std::string trackers;
    for (auto& line : t.trackers)
        trackers += plain(line.host) + '\t' + plain(line.answer) + '\t' + plain(line.next) + '\n';
    if (!trackers.empty())
        m.set("trackers", trackers);
    m.set("trackerNote", t.trackerNote);
    if (const auto& p = t.peerSources)
        m.set("peerSources", std::to_string(p->trackers) + "," + std::to_string(p->dht) + "," + std::to_string(p->magnet));
    return m;
}

std::optional<TransferSnapshot> snapshotOf(const Message& m)
{
    TransferSnapshot t;
    auto id = m.number("id");
    if (m.kind != "T" || !id || *id <= 0)
        return std::nullopt;
    t.id = uint64_t(*id);
    t.path = m.text("path");
    t.name = m.text("name");
    t.status = m.text("status");
    t.prog = m.text("prog");
    t.down = m.text("down");
    t.up = m.text("up");
    t.shown = m.text("shown");
    t.hasText = m.flag("hasText");
    auto state = m.number("state").value_or(0);
    t.state = state >= 0 && state <= (long long)TransferState::Ended ? TransferState(state) : TransferState::Idle;
    t.stateText = m.text("stateText");
    t.percentText = m.text("percent");
    t.ratesText = m.text("rates");
    t.spokenRatesText = m.text("spokenRates");
    t.timeLeftText = m.text("timeLeft");
    t.hasLatest = m.flag("hasLatest");
    t.fraction = std::clamp(realOf(m.text("fraction")).value_or(0.0), 0.0, 1.0);
    t.storedState = int(std::clamp(m.number("stored").value_or(0), 0LL, 4LL));
    t.hasClient = m.flag("hasClient");
    t.running = m.flag("running");
    t.paused = m.flag("paused");
    t.queued = m.flag("queued");
    t.quitting = m.flag("quitting");
    t.restartWhenGone = m.flag("restartWhenGone");
    t.ownClientRunning = m.flag("ownClientRunning");
    t.note = m.text("note");
    t.ownDownloadLimit = m.number("ownDown");
    t.ownUploadLimit = m.number("ownUp");
    if (auto hours = m.number("seedHours"))
        t.seedHours = int(std::clamp(*hours, 0LL, 100000LL));
    if (m.has("seedRatio"))
        t.seedRatio = realOf(m.text("seedRatio"));
    if (m.has("chosen"))
        t.chosenFiles = numbersOf(m.text("chosen"));
    t.hasChannel = m.flag("hasChannel");
    t.channelConnected = m.flag("connected");
    if (m.has("status.peers") && m.has("status.figures")) {
        auto p = split(m.text("status.peers"), ',');
        auto f = split(m.text("status.figures"), ',');
        if (p.size() == 5 && f.size() == 10) {
            ClientStatus s;
            int* ints[] = { &s.seeders, &s.trackerSeeders, &s.leechers, &s.trackerLeechers, &s.connecting };
            long long* longs[] = { &s.piecesHave, &s.piecesTotal, &s.piecesAvailable, &s.downRate, &s.upRate, &s.downTotal, &s.upTotal, &s.downLimit, &s.upLimit, &s.cacheKB };
            bool ok = true;
            for (size_t i = 0; i < 5 && ok; ++i)
                if (auto n = wholeNumber(p[i]))
                    *ints[i] = int(std::clamp(*n, 0LL, (long long)INT32_MAX));
                else
                    ok = false;
            for (size_t i = 0; i < 10 && ok; ++i)
                if (auto n = wholeNumber(f[i]))
                    *longs[i] = *n;
                else
                    ok = false;
            if (ok)
                t.clientStatus = s;
        }
    }
    if (auto files = m.number("files"))
        t.filesVersion = uint64_t(*files);
    for (auto line : split(m.text("peers"), '\n')) {
        auto f = split(line, ' ');
        if (f.size() != 8)
            continue;
        ClientPeer p;
        p.id = std::string(f[0]);
        p.address = std::string(f[1]);
        p.flags = f[2] == "-" ? std::string() : std::string(f[2]);
        long long* longs[] = { &p.downRate, &p.upRate, &p.downTotal, &p.upTotal, &p.pieces };
        bool ok = true;
        for (size_t i = 0; i < 5 && ok; ++i)
            if (auto n = wholeNumber(f[3 + i]))
                *longs[i] = *n;
            else
                ok = false;
        if (ok)
            t.peers.push_back(std::move(p));
    }
    for (auto line : split(m.text("trackers"), '\n')) {
        auto f = split(line, '\t');
        if (f.size() == 3 && t.trackers.size() < maxTrackers)
            t.trackers.push_back({ std::string(f[0]), std::string(f[1]), std::string(f[2]) });
    }
    t.trackerNote = m.text("trackerNote");
    if (auto f = split(m.text("peerSources"), ','); f.size() == 3) {
        auto trackers = wholeNumber(f[0]), dht = wholeNumber(f[1]), magnet = wholeNumber(f[2]);
        if (trackers && dht && magnet)
            t.peerSources = PeerSources { *trackers, *dht, *magnet };
    }
    return t;
}

Message optionsMessage(Message message, const TransferOptions& options)
{
    message.set("downLimit", options.downloadLimit).set("upLimit", options.uploadLimit);
    message.set("stopWhenComplete", options.stopWhenComplete);
    return message;
}

TransferOptions optionsOf(const Message& message)
{
    TransferOptions options;
    auto bounded = [](std::optional<long long> v) -> std::optional<long long> {
        if (v && (*v < 0 || *v > TransferOptions::largestLimit))
            return std::nullopt;
        return v;
    };
    options.downloadLimit = bounded(message.number("downLimit"));
    options.uploadLimit = bounded(message.number("upLimit"));
    options.stopWhenComplete = message.flag("stopWhenComplete");
    return options;
}

std::string filesText(const std::vector<ClientFile>& files, size_t from, size_t count)
{
    std::string out;
    for (size_t i = from; i < files.size() && i < from + count; ++i) {
        const auto& f = files[i];
        out += std::to_string(f.number) + ' ' + std::to_string(f.priority) + ' ' + std::to_string(f.current) + ' ' + std::to_string(f.pieces) + ' '
            + std::to_string(f.have) + ' ' + std::to_string(f.available) + ' ' + std::to_string(f.size) + ' ';
        // The name may hold blanks: it is the rest of the line.
        for (char c : f.name)
            out += c == '\n' ? ' ' : c;
        out += '\n';
    }
    return out;
}

bool readFiles(std::string_view text, std::vector<ClientFile>& files, size_t most)
{
    for (auto line : split(text, '\n')) {
        if (line.empty())
            continue;
        if (files.size() >= most)
            return false;
        ClientFile f;
        long long values[7];
        for (int i = 0; i < 7; ++i) {
            auto space = line.find(' ');
            if (space == std::string_view::npos)
                return false;
            auto n = wholeNumber(line.substr(0, space));
            if (!n)
                return false;
            values[i] = *n;
            line.remove_prefix(space + 1);
        }
        f.number = int(std::clamp(values[0], 0LL, (long long)INT32_MAX));
        f.priority = int(std::clamp(values[1], 0LL, (long long)INT32_MAX));
        f.current = int(std::clamp(values[2], 0LL, (long long)INT32_MAX));
        f.pieces = values[3];
        f.have = values[4];
        f.available = values[5];
        f.size = values[6];
        f.name = std::string(line.substr(0, ClientFile::maxNameLength));
        files.push_back(std::move(f));
    }
    return true;
}

} // namespace service
