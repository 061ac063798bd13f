#include "transfers/TransferProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void TransferProgress::started()
{
    // How far it had got stays in view until the new client says more.
    auto last = m_latest;
    *this = TransferProgress {};
    m_latest = last;
    m_base = TransferState::Connecting;
}

void TransferProgress::tick(const std::optional<StatusLine>& line, double now)
{
    if (m_base == TransferState::Idle)
        return;
    m_now = now;
    // A line unlike the last one is the client speaking (its spinner turns
    // with every line); the same one again is only what it said before.
    if (!m_lastHeard || (line && (!m_latest || !(*line == *m_latest))))
        heard(now);
    if (m_base != TransferState::Connecting)
        m_lastPieceAt.reset(); // a held client is not stalled
    else if (!m_lastPieceAt || (line && m_latest && line->piecesHave > m_latest->piecesHave))
        m_lastPieceAt = now;
    if (line) {
        m_latest = line;
        if (!line->complete())
            m_sawIncomplete = true;
        else if (m_sawIncomplete)
            m_completed = true;
    }
    if (!m_latest || m_base != TransferState::Connecting)
        return; // nothing to measure, or not running freely
    m_samples.push_back({ now, m_latest->piecesHave });
    while (m_samples.size() > 2 && m_samples.front().time < now - window)
        m_samples.pop_front();
}

void TransferProgress::restoreLatest(long long piecesHave, long long piecesTotal)
{
    if (piecesTotal <= 0 || piecesHave < 0 || piecesHave > piecesTotal)
        return;
    StatusLine line;
    line.piecesHave = piecesHave;
    line.piecesTotal = piecesTotal;
    m_latest = line;
}

void TransferProgress::paused()
{
    if (m_base == TransferState::Connecting)
        m_base = TransferState::Paused;
    m_samples.clear(); // a pause is no slow download
}

void TransferProgress::resumed()
{
    if (m_base == TransferState::Paused)
        m_base = TransferState::Connecting;
    m_diskFull = false;
    m_lastHeard.reset(); // silence counts from now
}

void TransferProgress::stopped()
{
    if (m_base != TransferState::Idle && m_base != TransferState::Ended)
        m_base = TransferState::Stopped;
    m_samples.clear();
}

void TransferProgress::ended(std::optional<int> status)
{
    if (m_base == TransferState::Idle)
        return;
    if (m_base != TransferState::Stopped)
        m_base = TransferState::Ended;
    m_exitStatus = status;
    m_samples.clear();
}

bool TransferProgress::takeCompletion()
{
    if (!m_completed || m_completionTaken)
        return false;
    m_completionTaken = true;
    return true;
}

TransferState TransferProgress::state() const
{
    if (m_diskFull && (m_base == TransferState::Connecting || m_base == TransferState::Paused))
        return TransferState::DiskFull;
    if (m_base != TransferState::Connecting)
        return m_base;
    if (m_lastHeard && m_now - *m_lastHeard >= silence)
        return TransferState::NotResponding;
    if (isComplete())
        return TransferState::Seeding;
    if (!m_latest)
        return TransferState::Connecting;
    const bool peers = m_latest->seeders + m_latest->leechers > 0;
    if (peers && m_lastPieceAt && m_now - *m_lastPieceAt >= stall && m_latest->downRateKB == 0)
        return TransferState::Stalled;
    if (peers || m_latest->downRateKB > 0)
        return TransferState::Downloading;
    // The client says so while it reaches its tracker; after that nobody is there yet.
    return m_latest->note == "Connecting" || m_latest->piecesTotal == 0 ? TransferState::Connecting : TransferState::WaitingForPeers;
}

std::optional<double> TransferProgress::secondsLeft() const
{
    if (state() != TransferState::Downloading || !m_latest || m_samples.size() < 2)
        return std::nullopt;
    const auto& first = m_samples.front();
    const auto& last = m_samples.back();
    const double span = last.time - first.time;
    const long long gained = last.pieces - first.pieces;
    if (span < shortest || gained <= 0)
        return std::nullopt;
    const double left = double(m_latest->piecesTotal - m_latest->piecesHave) * span / double(gained);
    // Figures a client made up (or a torrent that will not finish this
    // century) give no time at all rather than a nonsense one.
    if (!std::isfinite(left) || left < 0 || left > longestTimeLeft)
        return std::nullopt;
    return left;
}

std::string TransferProgress::stateText() const
{
    switch (state()) {
    case TransferState::Idle:
        return "";
    case TransferState::Connecting:
        return "Connecting";
    case TransferState::WaitingForPeers:
        return "Waiting for peers";
    case TransferState::Downloading:
        return "Downloading";
    case TransferState::Stalled:
        return "Stalled: no peer is sending";
    case TransferState::NotResponding:
        return "Not responding";
    case TransferState::DiskFull:
        return "Disk full: paused";
    case TransferState::Paused:
        return "Paused";
    case TransferState::Seeding:
        return "Seeding (complete)";
    case TransferState::Stopped:
        return "Stopped";
    case TransferState::Ended:
        if (m_failure)
            return *m_failure;
        if (m_exitStatus && *m_exitStatus != 0)
            return "Ended (exit status " + std::to_string(*m_exitStatus) + ")";
        return m_completed || isComplete() ? "Ended (complete)" : "Ended";
    }
    return "";
}

std::optional<std::string> TransferProgress::headlineText() const
{
    switch (state()) {
    case TransferState::Seeding:
        return std::string("Complete, sharing ...");
    case TransferState::Ended:
        if (m_completed || isComplete())
            return std::string("Complete");
        if (m_failure || (m_exitStatus && *m_exitStatus != 0))
            return std::string("Transfer failed");
        return std::string("Ended");
    default:
        return std::nullopt;
    }
}

std::string TransferProgress::percentText() const
{
    if (!m_latest)
        return "";
    // Floor, so that 100 % means every piece.
    return std::to_string(int(std::floor(m_latest->fraction() * 100))) + " %";
}

std::string TransferProgress::ratesText() const
{
    // A held or ended client moves nothing, whatever its last line said; one
    // that does not answer has no rate either, only a last one.
    if (!m_latest || m_base != TransferState::Connecting || state() == TransferState::NotResponding)
        return "";
    return "\u2193 " + rateText(m_latest->downRateKB) + "   \u2191 " + rateText(m_latest->upRateKB);
}

std::string TransferProgress::timeLeftText() const
{
    if (m_partial)
        return "Complete (" + *m_partial + ")";
    if (m_latest && m_latest->complete())
        return "Complete";
    // Nothing is left to wait for once the client has gone or is going.
    if (m_base == TransferState::Idle || m_base == TransferState::Ended || m_base == TransferState::Stopped)
        return "";
    if (auto left = secondsLeft())
        return "Time left: " + durationText(*left);
    return "Time left: \u2014";
}

std::string TransferProgress::rateText(long long kb)
{
    char text[32];
    if (kb < 1000)
        std::snprintf(text, sizeof text, "%lld KB/s", kb);
    else if (kb < 1000 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB/s", double(kb) / 1024);
    else
        std::snprintf(text, sizeof text, "%.1f GB/s", double(kb) / (1024 * 1024));
    return text;
}

std::string TransferProgress::spokenRateText(long long kb)
{
    auto text = rateText(kb);
    // "KB/s" read out is "KB slash s": the screen says it short, the reader in words.
    if (text.size() > 2 && text.compare(text.size() - 2, 2, "/s") == 0)
        text.replace(text.size() - 2, 2, " per second");
    return text;
}

std::string TransferProgress::spokenRatesText() const
{
    if (ratesText().empty())
        return "";
    return "Download " + spokenRateText(m_latest->downRateKB) + ", upload " + spokenRateText(m_latest->upRateKB);
}

std::string TransferProgress::spokenFieldRate(const std::string& direction, const std::string& field)
{
    const auto first = field.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    const auto last = field.find_last_not_of(" \t\r\n");
    const std::string words = field.substr(first, last - first + 1);
    const bool number = words.size() <= 15 && words.find_first_not_of("0123456789") == std::string::npos;
    return direction + " " + (number ? spokenRateText(std::stoll(words)) : words);
}

std::string TransferProgress::durationText(double seconds)
{
    if (!std::isfinite(seconds) || seconds > longestTimeLeft)
        return "\u2014";
    long long s = std::llround(std::max(0.0, seconds));
    char text[48];
    if (s < 60)
        std::snprintf(text, sizeof text, "%lld s", s);
    else if (s < 3600)
        std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    else if (s < 100 * 3600)
        std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, (s % 3600) / 60);
    else
        std::snprintf(text, sizeof text, "%lld days", s / 86400);
    return text;
}

std::string TransferProgress::sizeText(long long bytes)
{
    char text[32];
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%lld KB", std::max(0LL, bytes) / 1024);
    else if (bytes < 1024LL * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / (1024.0 * 1024 * 1024));
    return text;
}
