#pragma once
// What a person follows of one transfer: the share done, the rates, the time
// left and the state, worked out from the client's status lines on the tab's
// one-second tick and from what the user and the child did. It only reckons;
// the tab puts its texts into labels.
//
// Time left is the pieces still missing over the rate at which pieces came in
// during the last seconds, so one fast or slow second does not swing it; it
// is unknown ("—") until pieces have come in over a few seconds.
#include "transfers/StatusLine.h"

#include <deque>
#include <optional>
#include <string>

enum class TransferState { Idle, Connecting, WaitingForPeers, Downloading, Stalled, NotResponding, DiskFull, Paused, Seeding, Stopped, Ended };

class TransferProgress {
public:
    // A longer time left is shown as not known ("Time left: \u2014").
    static constexpr double longestTimeLeft = 100.0 * 365 * 86400;
    static constexpr double window = 15; // seconds of history behind the time left
    static constexpr double shortest = 3; // the history must span at least this
    // A running client that says nothing this long is stopped from outside or hangs.
    static constexpr double silence = 30;
    // Peers but no new piece this long: none of them is sending.
    static constexpr double stall = 30;

    // A new child: nothing known yet.
    void started();
    // The tick: the latest status line, if the latest chunk held one; the
    // previous values stay otherwise.
    void tick(const std::optional<StatusLine>& line, double now);
    // The client was heard from (output or an answer on its channel).
    void heard(double when)
    {
        if (!m_lastHeard || when > *m_lastHeard)
            m_lastHeard = when;
    }
    // The client cannot write: the disk is full. It is held until resumed.
    void diskFull() { m_diskFull = true; }
    bool isDiskFull() const { return m_diskFull; }
    void paused();
    void resumed();
    void stopped();
    // The child ended; its exit status (or 128 + signal).
    void ended(std::optional<int> status);
    // Known from the stored list: how far it had got, shown until a client says more.
    void restoreLatest(long long piecesHave, long long piecesTotal);
    // The client said in its output that the download is complete.
    void clientSaidComplete() { m_completed = true; }
    // Every file chosen is in, some having been skipped: complete (and
    // seeding) with the share it has, "3 of 4 files".
    void completeWithSkipped(std::string share)
    {
        m_partial = std::move(share);
        m_completed = true;
    }
    // A skipped file is fetched again: not complete until the client says so.
    void moreChosen()
    {
        m_partial.reset();
        m_completed = false;
    }
    const std::optional<std::string>& completeShare() const { return m_partial; }
    // Every piece, or every chosen file, is in.
    bool isComplete() const { return m_partial || (m_latest && m_latest->complete()); }
    // The client said why it cannot go on, in words (ClientFailure); an
    // ended transfer's state then says that.
    void failed(std::string words) { m_failure = std::move(words); }
    const std::optional<std::string>& failure() const { return m_failure; }

    TransferState state() const;
    // Paused by the person (or for a full disk), whatever the state says.
    bool isHeld() const { return m_base == TransferState::Paused; }
    const std::optional<StatusLine>& latest() const { return m_latest; }
    bool hasCompleted() const { return m_completed; }
    // True once per transfer, on the first call after the download completed.
    bool takeCompletion();
    std::optional<double> secondsLeft() const;

    std::string stateText() const;
    std::string percentText() const; // "42 %"; empty before the first line
    std::string ratesText() const; // "↓ 280 KB/s   ↑ 12 KB/s"; empty unless running
    std::string timeLeftText() const; // "Time left: 3 min 05 s", "Time left: —", "Complete"; "" once ended
    // What the tab's headline says once the transfer ended or completed, so
    // that it never contradicts the state; nothing while the buttons' own
    // words ("Downloading ...", "Paused", "Stopped") hold.
    std::optional<std::string> headlineText() const;

    static std::string rateText(long long kilobytesPerSecond);
    // The rates as a screen reader says them, with their directions:
    // "Download 280 KB per second, upload 12 KB per second"; empty as ratesText.
    std::string spokenRatesText() const;
    // One rate in words: "2.3 MB per second".
    static std::string spokenRateText(long long kilobytesPerSecond);
    // A rate field of the cut (the client's KB/s) in words with its direction,
    // "Download 2.3 MB per second"; the field's own words where it holds no
    // number; empty for an empty field.
    static std::string spokenFieldRate(const std::string& direction, const std::string& field);
    static std::string durationText(double seconds);
    static std::string sizeText(long long bytes); // "512 KB", "3.4 MB", "1.2 GB"

private:
    struct Sample {
        double time;
        long long pieces;
    };

    // What the user or the child made it; Connecting stands for "running",
    // and the status lines then tell how far it got.
    TransferState m_base { TransferState::Idle };
    std::optional<StatusLine> m_latest;
    std::deque<Sample> m_samples;
    double m_now { 0 };
    std::optional<double> m_lastHeard;
    std::optional<double> m_lastPieceAt; // when the pieces had last grew (or running began)
    bool m_diskFull { false };
    std::optional<int> m_exitStatus;
    std::optional<std::string> m_failure;
    bool m_sawIncomplete { false };
    bool m_completed { false };
    std::optional<std::string> m_partial;
    bool m_completionTaken { false };
};
