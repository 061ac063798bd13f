#include "transfers/StatusLine.h"

#include <charconv>

namespace {

// A cursor over one line: each step either consumes what it expects or fails.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) { }

    bool literal(std::string_view expected)
    {
        if (m_text.substr(m_at, expected.size()) != expected)
            return false;
        m_at += expected.size();
        return true;
    }

    bool number(long long& out)
    {
        const char* begin = m_text.data() + m_at;
        const char* end = m_text.data() + m_text.size();
        if (begin == end || *begin < '0' || *begin > '9')
            return false; // from_chars would take a sign
        auto [stop, error] = std::from_chars(begin, end, out);
        if (error != std::errc())
            return false;
        m_at += size_t(stop - begin);
        return true;
    }

    // Numbers joined by a separator: "a/b/c", "a,b".
    bool pair(long long& a, std::string_view separator, long long& b) { return number(a) && literal(separator) && number(b); }

    std::string_view rest() const { return m_text.substr(m_at); }

private:
    std::string_view m_text;
    size_t m_at { 0 };
};

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\t'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\r' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

} // namespace

std::optional<StatusLine> parseStatusLine(std::string_view line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.size() < 2 || line[0] == ' ' || line[1] != ' ')
        return std::nullopt;
    StatusLine s;
    s.spinner = line[0];
    Reader r(line.substr(2));
    bool whole = r.pair(s.seeders, "/", s.leechers) && r.literal("/") && r.number(s.peers)
        && r.literal(" [") && r.pair(s.piecesHave, "/", s.piecesTotal) && r.literal("/") && r.number(s.piecesAvailable)
        && r.literal("] ") && r.pair(s.downloadedMB, "MB,", s.uploadedMB) && r.literal("MB | ")
        && r.pair(s.downRateKB, ",", s.upRateKB) && r.literal("K/s | ")
        && r.pair(s.downCountKB, ",", s.upCountKB) && r.literal("K E:")
        && r.pair(s.trackerFailures, ",", s.trackerSuccesses);
    if (!whole || s.piecesHave > s.piecesTotal)
        return std::nullopt;
    auto rest = r.rest();
    if (!rest.empty() && rest[0] != ' ')
        return std::nullopt; // a number runs on: not the line we know
    s.note = std::string(trimBlanks(rest));
    return s;
}

std::optional<StatusLine> lastStatusLine(std::string_view chunk)
{
    size_t end = chunk.size();
    for (;;) {
        size_t start = end == 0 ? std::string_view::npos : chunk.find_last_of("\n\r", end - 1);
        size_t from = start == std::string_view::npos ? 0 : start + 1;
        if (from < end) {
            if (auto line = parseStatusLine(chunk.substr(from, end - from)))
                return line;
        }
        if (start == std::string_view::npos)
            return std::nullopt;
        end = start;
    }
}
