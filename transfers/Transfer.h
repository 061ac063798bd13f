#pragma once
// One transfer: a .torrent file, the client child working on it, the file its
// output goes to (the client outlives the application, so no pipe), the
// decoded output, the one-second cut into the progress and
// rate fields, what a person follows (TransferProgress), why it failed
// (ClientFailure), and the limits it was started with. The transfer tab shows
// the one in front; the list (TransferList) owns them all.
//
// A transfer may also stand for a client left running by an earlier run of
// the application (adopted by its process id): its output file is read on
// from its last line, and Stop ends it. Or for one known from the stored list without a client:
// queued, paused, stopped or complete, until it is started again.
#include "kit/core/ChildProcess.h"
#include "kit/core/ErrorOr.h"
#include "kit/core/FollowedFile.h"
#include "kit/core/NotificationCenter.h"
#include "kit/core/Timer.h"
#include "kit/core/Utf8Decoder.h"
#include "transfers/ClientFailure.h"
#include "transfers/ControlServer.h"
#include "transfers/TransferOptions.h"
#include "transfers/TransferProgress.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <cstdint>
#include <string>
#include <sys/types.h>

// What the stored list keeps of a transfer's state.
enum class StoredState { Running, Paused, Queued, Stopped, Complete };
const char* storedStateName(StoredState state);
std::optional<StoredState> storedStateNamed(std::string_view name);

// How a client reaches the application's control channel.
struct ControlAccess {
    uint16_t port { 0 };
    std::string password;
};

class Transfer : public std::enable_shared_from_this<Transfer> {
public:
    static constexpr const char* downloadingText = "Downloading ...";
    static constexpr const char* adoptedText = "Running (started earlier)";
    static constexpr const char* queuedText = "Queued";
    // A client told to stop that has not ended after this long is killed.
    static constexpr double stopGraceSeconds = 10;
    // One asked to quit on its channel gets this long before the signal.
    static constexpr double quitGraceSeconds = 5;

    Transfer(std::string path, std::string name, TransferOptions options);

    // Names it to the views while the owner runs (never reused within a run).
    uint64_t id() const { return m_id; }

    const std::string& path() const { return m_path; }
    // The .torrent its client runs from: its own copy in the state folder once
    // made, so that whatever becomes of the file it came from (a newer one
    // kept under the same name) the transfer stays the torrent it was
    // started with; the file it came from until then.
    const std::string& runPath() const { return m_copy.empty() ? m_path : m_copy; }
    const std::string& copyPath() const { return m_copy; }
    // Where its copy goes: one per torrent path, under the file's own name, beside its output file.
    static std::string keptCopyPath(const std::string& torrentPath);
    // Keeps a copy of the .torrent now (once); one that cannot be made is
    // logged, and the client runs from the file it came from.
    void keepCopy();
    // The copy known from the stored list (kept only if it is still there).
    void restoreCopy(const std::string& copy);
    const std::string& name() const { return m_name; }
    const TransferOptions& options() const { return m_options; }

    // Where a transfer's client writes its output: one file per torrent, in the state folder.
    static std::string outputPath(const std::string& torrentPath);

    // Starts its client; the error says why it could not be started.
    kit::ErrorOr<void> start();
    // Takes over a client left by an earlier run (checked by the caller).
    void adopt(pid_t pid, bool paused);
    // Known from the stored list, without a client.
    void restoreAs(StoredState state);
    // What the stored list knew besides: how far it got, and whether the
    // person was told it completed (told once per transfer, not per start).
    void restoreProgress(std::optional<std::pair<long long, long long>> pieces, bool completionTold);
    bool completionTold() const { return m_completionTold; }
    // Pieces had and in all, as last known.
    std::optional<std::pair<long long, long long>> lastPieces() const;
    void setQueued(bool queued)
    {
        m_queued = queued;
        if (queued)
            m_status = queuedText;
    }
    // Clients started from now on connect to the control channel (none: they run without it).
    void setControlAccess(std::optional<ControlAccess> access) { m_control = std::move(access); }
    // Its key at the service's tracker gateway (random, stored with it): its
    // client announces there under it, and nobody else may.
    std::string gatewayToken;
    // Clients started from now on announce to this address (the gateway)
    // instead of the torrent's own tracker; none: to the torrent's own.
    void setAnnounceAddress(std::optional<std::string> address) { m_announce = std::move(address); }
    // The client's control channel, once it has connected (a client of this
    // run, one taken over, or one started elsewhere); none before.
    void attachControl(std::shared_ptr<ControlClient> client);
    ControlClient* control() const;
    // Its details are on screen: its files and peers are asked for too.
    void setDetailsShown(bool shown);
    // Whether somebody sees it as it goes: its output is then read as the
    // client writes it, else on the one-second tick alone (set by the list).
    void setLive(bool live);
    // Known only through its channel: started by hand or on another machine.
    bool isElsewhere() const { return m_elsewhere; }
    void joinFromElsewhere();
    // Limits of its own (bytes/s), set in its details; nothing: its share of the total.
    std::optional<long long> ownDownloadLimit, ownUploadLimit;
    // The files chosen in its details (numbers from 1); nothing: as the client has them.
    std::optional<std::set<int>> chosenFiles;
    // Chooses them: sent to its client at once where it can be, kept (and
    // stored) for its next start. A file fetched again undoes a completion.
    void chooseFiles(std::set<int> files);
    // Its seeding goal, set in its details: hours after completion, or an
    // upload ratio; sent to its client whenever it (re)connects.
    std::optional<int> seedHours;
    std::optional<double> seedRatio;
    // Sends its own choices (files, limits, seeding goal) to a connected client.
    void sendChoices();
    // What was last sent to its client, so that the same is not sent again.
    std::optional<long long> sentDownloadLimit, sentUploadLimit;
    // Asked for again while it has no client: the options set now apply.
    void setOptions(const TransferOptions& options) { m_options = options; }

    void stop();
    // Stopped, and its client has not gone yet: it is quitting.
    bool isQuitting();
    // Resume asked while it was quitting: its owner starts it once the old client has gone.
    bool restartWhenGone { false };
    void pause();
    // Only a held client; a transfer without one is started by its owner.
    // Refused while the disk it fills is still full.
    kit::ErrorOr<void> resume();
    // Free space a transfer held for a full disk needs to go on.
    static constexpr uintmax_t roomToGoOn = 16 * 1024 * 1024;

    // The one-second tick: the cut of the latest chunk, the progress, the
    // completion notice, and for an adopted client whether it still lives.
    void tick(double now);

    // A client (own or adopted) is alive.
    bool hasClient();
    bool isAdopted() const { return m_adoptedPid.has_value(); }
    bool isQueued() const { return m_queued; }
    // The magnet link it came from while its .torrent (at path()) is still to
    // fetch; empty once it has one.
    std::string magnet;
    // Fetching its metadata from the swarm, knowing of this many peers.
    bool isFetching() const { return m_fetchPeers.has_value(); }
    void setFetching(std::optional<size_t> peers);
    static constexpr const char* fetchingText = "Fetching metadata";
    // Why its last fetch ended without metadata ("Fetching metadata failed: …" on the tab).
    void fetchFailed(std::string why);
    static constexpr const char* fetchFailedText = "Fetching metadata failed";
    // Not stopped by the user and a client is alive (paused counts).
    bool isRunning();
    bool isPaused();
    StoredState storedState();
    // The client's process id while it has one.
    std::optional<pid_t> clientPid();

    // What the tab shows for it.
    const std::string& statusText() const { return m_status; }
    const std::string& progText() const { return m_prog; }
    const std::string& downText() const { return m_down; }
    const std::string& upText() const { return m_up; }
    // What the text view shows: the latest chunk (or the client's last words).
    const std::string& shownText() const { return m_shown; }
    const std::optional<std::string>& text() const { return m_text; }
    const TransferProgress& progress() const { return m_progress; }
    TransferProgress& progress() { return m_progress; }
    const std::shared_ptr<kit::ChildProcess>& child() const { return m_child; }
    // The state in words: the progress's, or what stands in for it (adopted,
    // queued, known from the stored list).
    std::string stateText() const;

    // Output arrived (the shown text changed); the client ended; the state changed.
    std::function<void(Transfer&)> onOutput;
    std::function<void(Transfer&)> onEnded;
    std::function<void(Transfer&)> onStateChanged;

    // The status line and progress (refreshed on the tick and on state changes).
    void refreshProgress(double now);

private:
    void readPipe(const kit::Notification& notification);
    void childEnded(kit::ChildProcess& child);
    void followOutput(bool fromLastLine);
    void noticeCompletion(std::string_view chunk);
    void noticeDiskFull(std::string_view chunk);
    // Every chosen file is in though some were skipped: complete with that share.
    void noticeChosenComplete();
    size_t torrentFileCount();
    size_t fileCount();
    void changed();

    uint64_t m_id;
    std::string m_path;
    std::string m_copy;
    std::optional<size_t> m_fileCount;
    std::string m_name;
    TransferOptions m_options;

    std::shared_ptr<kit::ChildProcess> m_child;
    std::shared_ptr<kit::FollowedFile> m_handle;
    kit::Observation m_pipeReads;
    bool m_live { true };
    kit::Utf8Decoder m_decoder;
    std::optional<std::string> m_text;
    std::string m_shown;
    std::string m_lastWords; // the latest chunk with more than blanks in it
    std::string m_chunkTail; // the end of the previous chunk, for a notice split across reads
    bool m_textIsCurrent { false };
    bool m_rateIsFresh { false }; // the latest chunk came after the last pause
    ClientFailure m_failure;
    TransferProgress m_progress;

    std::string m_status { "Idle" };
    std::string m_prog, m_down, m_up;

    std::optional<pid_t> m_adoptedPid;
    bool m_adoptedAlive { false };
    bool m_queued { false };
    std::optional<size_t> m_fetchPeers;
    std::optional<std::string> m_fetchProblem;
    // Restored without a client: what the list said.
    std::optional<StoredState> m_restored;
    bool m_completionTold { false };
    std::optional<ControlAccess> m_control;
    std::optional<std::string> m_announce;
    std::shared_ptr<ControlClient> m_channel;
    std::shared_ptr<kit::Timer> m_stopFallback;
    bool m_elsewhere { false };
    int m_ticks { 0 };
    bool m_detailsShown { false };
};
