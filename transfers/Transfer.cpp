#include "transfers/Transfer.h"

#include "swarm/TrackerWire.h"
#include "torrent/TorrentCheck.h"

#include "kit/core/AtomicFile.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/ForeignProcess.h"
#include "kit/core/Log.h"
#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/core/Timer.h"
#include "kit/core/WeakBind.h"
#include "kit/net/URLEscape.h"
#include "torrent/TorrentCheck.h"
#include "torrent/TorrentContents.h"
#include "transfers/StatusCut.h"

#include <algorithm>
#include <any>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {
// What the client prints once it has every piece.
constexpr std::string_view clientCompleteText = "Download complete.";
constexpr const char* completeNotice = "Download complete";

// The completion notice's buttons: the arrived file (or its folder) and the
// folder it is in, as the .torrent names them; none when it names nothing usable.
std::vector<kit::NotificationAction> completionActions(const std::string& torrentPath)
{
    auto contents = torrent::readContentsOfFile(torrentPath);
    if (!contents)
        return {};
    const auto folder = kit::DeviceLayout::current().transferWorkingFolder();
    return {
        { "Open", kit::fileURLWithPath(torrent::writtenPaths(*contents, folder).front()) },
        { "Show in folder", kit::fileURLWithPath(folder) },
    };
}

// The client asks for the control channel's password on its standard output;
// the password comes from its standard input, and the question is no output.
constexpr std::string_view passwordPrompt = "Enter CTCS password: ";

void dropPrompt(std::string& text)
{
    for (auto at = text.find(passwordPrompt); at != std::string::npos; at = text.find(passwordPrompt, at))
        text.erase(at, passwordPrompt.size());
}

// FNV-1a: a name that stays the same from one run (and build) to the next.
std::string stableHash(std::string_view text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

bool isBlank(std::string_view text)
{
    return !text.empty() && text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}
} // namespace

const char* storedStateName(StoredState state)
{
    switch (state) {
    case StoredState::Running:
        return "running";
    case StoredState::Paused:
        return "paused";
    case StoredState::Queued:
        return "queued";
    case StoredState::Stopped:
        return "stopped";
    case StoredState::Complete:
        return "complete";
    }
    return "stopped";
}

std::optional<StoredState> storedStateNamed(std::string_view name)
{
    for (auto state : { StoredState::Running, StoredState::Paused, StoredState::Queued, StoredState::Stopped, StoredState::Complete })
        if (name == storedStateName(state))
            return state;
    return std::nullopt;
}

Transfer::Transfer(std::string path, std::string name, TransferOptions options)
    : m_id([] {
        static uint64_t last = 0;
        return ++last;
    }())
    , m_path(std::move(path))
    , m_name(std::move(name))
    , m_options(options)
{
}

namespace {
// The state folder's name for what belongs to one torrent path: its stem, made safe, and a hash of the path.
std::string stateName(const std::string& torrentPath)
{
    auto normal = std::filesystem::path(torrentPath).lexically_normal();
    auto stem = normal.stem().string().substr(0, 40);
    for (auto& c : stem)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    return kit::DeviceLayout::current().stateFolder() + "/transfers/" + stem + "-" + stableHash(normal.string());
}
} // namespace

std::string Transfer::outputPath(const std::string& torrentPath)
{
    return stateName(torrentPath) + ".log";
}

std::string Transfer::keptCopyPath(const std::string& torrentPath)
{
    // Under its own name, in a folder of its own: the client shows the name it was given.
    return stateName(torrentPath) + "/" + std::filesystem::path(torrentPath).lexically_normal().filename().string();
}

void Transfer::keepCopy()
{
    if (!m_copy.empty())
        return;
    std::error_code failed;
    if (!std::filesystem::is_regular_file(m_path, failed))
        return; // the client says what is wrong with it
    const auto size = std::filesystem::file_size(m_path, failed);
    std::ifstream in(m_path, std::ios::binary);
    std::string bytes;
    if (!failed && in && size <= uintmax_t(torrent::maxFileSize))
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (failed || !in || bytes.empty() || size > uintmax_t(torrent::maxFileSize)) {
        kit::log(m_name + ": no copy of " + m_path + " is kept (it cannot be read); the transfer runs from it");
        return;
    }
    // One listing its trackers only in tiers gets the first as its "announce": the client needs one.
    if (auto fixed = torrent::withAnnounceKey(bytes))
        bytes = std::move(*fixed);
    const auto copy = keptCopyPath(m_path);
    std::filesystem::create_directories(std::filesystem::path(copy).parent_path(), failed);
    if (auto written = kit::writeFileAtomically(copy, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); !written) {
        kit::log(m_name + ": no copy of " + m_path + " is kept (" + written.error().message + "); the transfer runs from it");
        return;
    }
    m_copy = copy;
    m_fileCount.reset();
}

void Transfer::restoreCopy(const std::string& copy)
{
    // Only its own place in the state folder: a list edited by hand names no other file to run.
    std::error_code failed;
    if (!copy.empty() && copy == keptCopyPath(m_path) && std::filesystem::is_regular_file(copy, failed))
        m_copy = copy;
    else if (!copy.empty()) {
        // Made again where its client (which names it) looks for it.
        kit::log(m_name + ": its copy of the torrent (" + copy + ") has gone; a new one is made from " + m_path);
        keepCopy();
    }
}

void Transfer::changed()
{
    if (onStateChanged)
        onStateChanged(*this);
}

kit::ErrorOr<void> Transfer::start()
{
    if (hasClient())
        return {};
    keepCopy();
    auto& layout = kit::DeviceLayout::current();
    const auto output = outputPath(m_path);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(output).parent_path(), ignored);
    // Opened before the launch, at its end: what an earlier client wrote is not shown again.
    auto followed = kit::FollowedFile::open(output);
    if (!followed)
        return kit::Error { "The transfer could not be started: its output file cannot be made (" + followed.error().message + ").", followed.error().code };
    auto handle = followed.release();

    auto child = kit::ChildProcess::create();
    child->setLaunchPath(layout.ctorrentPath());
    child->setCurrentDirectoryPath(layout.transferWorkingFolder());
    // The choices made in its details hold from its first moment, with or without a channel.
    auto options = m_options;
    if (ownDownloadLimit)
        options.downloadLimit = std::max(1LL, *ownDownloadLimit / 1024);
    if (ownUploadLimit)
        options.uploadLimit = std::max(1LL, *ownUploadLimit / 1024);
    if (seedHours || seedRatio)
        options.stopWhenComplete = false;
    auto arguments = options.arguments(runPath());
    std::vector<std::string> chosen;
    if (chosenFiles && !chosenFiles->empty())
        if (auto line = ControlClient::filesLine(std::vector<int>(chosenFiles->begin(), chosenFiles->end())))
            chosen = { "-n", line->substr(std::string_view("CTCONFIG file_list ").size()) };
    if (seedHours)
        chosen.insert(chosen.end(), { "-e", std::to_string(*seedHours) });
    else if (seedRatio)
        if (auto line = ControlClient::seedRatioLine(*seedRatio))
            chosen.insert(chosen.end(), { "-E", line->substr(std::string_view("CTCONFIG seed_ratio ").size()) });
    arguments.insert(arguments.end() - 1, chosen.begin(), chosen.end());
    if (m_announce)
        arguments.insert(arguments.end() - 1, { "-u", *m_announce });
    if (m_control) {
        // The control channel first; its password on standard input, never on the command line.
        arguments.insert(arguments.begin(), { "-S", "127.0.0.1:" + std::to_string(m_control->port) + ":" });
        child->setStandardInputText(m_control->password + "\n");
    }
    child->setArguments(std::move(arguments));
    // The client is the transfer, not a part of the window: it goes on when the application dies.
    child->setOutputFile(output);
    child->setOutlivesApplication(true);
    if (auto launched = child->launch(); !launched) {
        std::string why = "The transfer could not be started.\n" + launched.error().message;
        if (launched.error().failure == kit::ChildProcess::LaunchFailure::Program)
            why += "\nThe transfer client ctorrent must be installed at " + layout.ctorrentPath() + ".";
        return kit::Error { why, launched.error().code };
    }
    m_handle = std::move(handle);
    m_child = std::move(child);
    // A stop's fallback was for the client before this one.
    if (m_stopFallback)
        m_stopFallback->invalidate();
    m_stopFallback.reset();
    restartWhenGone = false;
    // The child may outlive this transfer (its end is still reaped): then it calls nobody back.
    m_child->onTerminate = kit::bindWeak(*this, &Transfer::childEnded);
    m_decoder = {};
    m_text.reset();
    m_textIsCurrent = false;
    m_chunkTail.clear();
    m_failure.reset();
    m_rateIsFresh = false;
    m_lastWords.clear();
    m_adoptedPid.reset();
    m_queued = false;
    m_restored.reset();
    m_status = downloadingText;
    const auto share = m_progress.completeShare();
    m_progress.started();
    // The same files chosen, the same files in: still complete.
    if (share)
        m_progress.completeWithSkipped(*share);
    followOutput(false);
    refreshProgress(kit::RunLoop::main().now());
    changed();
    return {};
}

void Transfer::followOutput(bool fromLastLine)
{
    if (!m_handle)
        return;
    if (fromLastLine)
        m_handle->startAtLastLine();
    std::weak_ptr<Transfer> weak = weak_from_this();
    m_handle->setWatching(m_live);
    m_pipeReads = kit::NotificationCenter::defaultCenter().addObserver(
        [weak](const kit::Notification& n) {
            if (auto self = weak.lock())
                self->readPipe(n);
        },
        kit::FollowedFile::ReadCompletionNotification, m_handle.get());
    m_handle->readInBackgroundAndNotify();
}

void Transfer::setLive(bool live)
{
    m_live = live;
    // The client writes every second; unseen, its output waits for the tick.
    if (m_handle)
        m_handle->setWatching(live);
}

void Transfer::adopt(pid_t pid, bool paused)
{
    m_adoptedPid = pid;
    m_adoptedAlive = true;
    m_queued = false;
    m_restored.reset();
    m_progress.started();
    if (paused)
        m_progress.paused();
    m_status = paused ? "Paused" : adoptedText;
    // Its output goes on in the same file: read on from its latest line.
    if (auto followed = kit::FollowedFile::open(outputPath(m_path))) {
        m_handle = followed.release();
        followOutput(true);
    } else {
        kit::log(m_name + ": the output of the client taken over cannot be read (" + followed.error().message + ")");
    }
    changed();
}

void Transfer::joinFromElsewhere()
{
    m_elsewhere = true;
    m_queued = false;
    m_restored.reset();
    m_progress.started();
    m_status = downloadingText;
}

void Transfer::restoreProgress(std::optional<std::pair<long long, long long>> pieces, bool completionTold)
{
    if (pieces)
        m_progress.restoreLatest(pieces->first, pieces->second);
    m_completionTold = completionTold;
}

std::optional<std::pair<long long, long long>> Transfer::lastPieces() const
{
    auto& latest = m_progress.latest();
    if (!latest || latest->piecesTotal <= 0)
        return std::nullopt;
    return std::pair { latest->piecesHave, latest->piecesTotal };
}

void Transfer::restoreAs(StoredState state)
{
    m_restored = state;
    // Complete with files skipped reads so again, with the share it has.
    if (state == StoredState::Complete && chosenFiles && !chosenFiles->empty() && chosenFiles->size() < torrentFileCount()
        && !(m_progress.latest() && m_progress.latest()->complete()))
        m_progress.completeWithSkipped(std::to_string(chosenFiles->size()) + " of " + std::to_string(torrentFileCount()) + " files");
    setQueued(state == StoredState::Queued || state == StoredState::Running);
    if (!m_queued)
        m_status = stateText();
}

namespace {
bool connected(const std::shared_ptr<ControlClient>& channel)
{
    return channel && channel->isConnected();
}

// The channel's figures in the status line's terms, so that one reckoning serves both.
StatusLine lineFromStatus(const ClientStatus& status)
{
    StatusLine line;
    line.seeders = status.seeders;
    line.leechers = status.leechers;
    line.peers = status.trackerSeeders + status.trackerLeechers;
    line.piecesHave = status.piecesHave;
    line.piecesTotal = status.piecesTotal;
    line.piecesAvailable = status.piecesAvailable;
    line.downRateKB = status.downRate / 1024;
    line.upRateKB = status.upRate / 1024;
    line.downloadedMB = status.downTotal / (1024 * 1024);
    line.uploadedMB = status.upTotal / (1024 * 1024);
    line.downCountKB = status.downTotal / 1024;
    line.upCountKB = status.upTotal / 1024;
    return line;
}
} // namespace

void Transfer::attachControl(std::shared_ptr<ControlClient> client)
{
    m_channel = std::move(client);
    sentDownloadLimit.reset();
    sentUploadLimit.reset();
    std::weak_ptr<Transfer> weak = weak_from_this();
    m_channel->onClosed = [weak](ControlClient&) {
        auto self = weak.lock();
        if (!self || !self->m_elsewhere)
            return;
        // A client known only by its channel has ended for us when it goes
        // after we asked it to stop; otherwise it may come back.
        if (self->m_progress.state() == TransferState::Stopped) {
            self->m_progress.ended(0);
            if (self->onEnded)
                self->onEnded(*self);
        }
        self->changed();
    };
    // A client paused before the application went stays paused; files
    // switched off stay off, and its own limits and seeding goal hold.
    if (m_progress.isHeld())
        m_channel->setPaused(true);
    sendChoices();
    m_channel->askStatus();
    changed();
}

void Transfer::sendChoices()
{
    if (!connected(m_channel))
        return;
    if (chosenFiles && !chosenFiles->empty())
        m_channel->setFiles(std::vector<int>(chosenFiles->begin(), chosenFiles->end()));
    if (ownDownloadLimit && m_channel->setDownloadLimit(*ownDownloadLimit))
        sentDownloadLimit = *ownDownloadLimit;
    if (ownUploadLimit && m_channel->setUploadLimit(*ownUploadLimit))
        sentUploadLimit = *ownUploadLimit;
    if (seedHours)
        m_channel->setSeedTime(*seedHours);
    else if (seedRatio)
        m_channel->setSeedRatio(*seedRatio);
}

void Transfer::chooseFiles(std::set<int> files)
{
    const bool more = chosenFiles && std::any_of(files.begin(), files.end(), [&](int n) { return !chosenFiles->count(n); });
    chosenFiles = std::move(files);
    if (more && m_progress.completeShare())
        m_progress.moreChosen();
    else if (m_progress.completeShare() && !chosenFiles->empty() && fileCount() > 0)
        m_progress.completeWithSkipped(std::to_string(chosenFiles->size()) + " of " + std::to_string(fileCount()) + " files");
    if (connected(m_channel) && !chosenFiles->empty())
        m_channel->setFiles(std::vector<int>(chosenFiles->begin(), chosenFiles->end()));
    changed();
}

size_t Transfer::fileCount()
{
    // What its client told, else what its torrent names.
    if (m_channel && m_channel->fileCount() > 0)
        return m_channel->fileCount();
    return torrentFileCount();
}

size_t Transfer::torrentFileCount()
{
    if (!m_fileCount) {
        auto contents = torrent::readContentsOfFile(runPath());
        m_fileCount = contents ? contents->files.size() : 0;
    }
    return *m_fileCount;
}

void Transfer::noticeChosenComplete()
{
    if (m_progress.completeShare() || !chosenFiles || chosenFiles->empty())
        return;
    const auto* detail = m_channel ? &m_channel->detail() : nullptr;
    const size_t all = fileCount();
    if (all == 0 || chosenFiles->size() >= all)
        return; // nothing skipped: complete means every piece
    // The client says so in words, and seeds from then on.
    const bool seeding = detail && *detail && (*detail)->seedingSince > 0;
    if (!(m_progress.hasCompleted() || seeding) || (m_progress.latest() && m_progress.latest()->complete()))
        return;
    m_progress.completeWithSkipped(std::to_string(chosenFiles->size()) + " of " + std::to_string(all) + " files");
    changed();
}

void Transfer::setDetailsShown(bool shown)
{
    m_detailsShown = shown;
    if (shown && connected(m_channel)) {
        m_channel->askDetail();
        m_channel->askPeers();
    }
}

ControlClient* Transfer::control() const
{
    return m_channel.get();
}

bool Transfer::hasClient()
{
    if (m_elsewhere)
        return connected(m_channel) && m_progress.state() != TransferState::Ended;
    if (m_child)
        return m_child->isRunning();
    return m_adoptedPid && m_adoptedAlive;
}

std::optional<pid_t> Transfer::clientPid()
{
    if (m_child && m_child->isRunning())
        return m_child->processIdentifier();
    if (m_adoptedPid && m_adoptedAlive)
        return m_adoptedPid;
    return std::nullopt;
}

bool Transfer::isRunning()
{
    return hasClient() && m_progress.state() != TransferState::Stopped;
}

bool Transfer::isPaused()
{
    if (!hasClient())
        return m_restored == StoredState::Paused;
    return m_progress.isHeld();
}

StoredState Transfer::storedState()
{
    if (m_fetchPeers)
        return StoredState::Running;
    if (m_queued)
        return StoredState::Queued;
    if (!hasClient() && m_restored)
        return *m_restored;
    if (isRunning())
        return m_progress.isHeld() ? StoredState::Paused : StoredState::Running;
    const bool complete = m_progress.hasCompleted() || (m_progress.latest() && m_progress.latest()->complete());
    return complete ? StoredState::Complete : StoredState::Stopped;
}

void Transfer::setFetching(std::optional<size_t> peers)
{
    if (peers == m_fetchPeers)
        return;
    m_fetchPeers = peers;
    if (peers) {
        m_restored.reset();
        m_fetchProblem.reset();
    }
    m_status = stateText();
    changed();
}

void Transfer::fetchFailed(std::string why)
{
    // Said as the rest of the line: no capital, no closing stop.
    if (!why.empty() && why.back() == '.')
        why.pop_back();
    if (!why.empty() && why.front() >= 'A' && why.front() <= 'Z')
        why.front() = char(why.front() - 'A' + 'a');
    m_fetchProblem = why.empty() ? std::string("no reason given") : why;
    m_status = stateText();
    changed();
}

std::string Transfer::stateText() const
{
    if (m_fetchPeers)
        return std::string(fetchingText) + ": " + std::to_string(*m_fetchPeers) + (*m_fetchPeers == 1 ? " peer" : " peers");
    if (m_fetchProblem && !m_child && !magnet.empty())
        return std::string(fetchFailedText) + ": " + *m_fetchProblem;
    if (m_queued)
        return queuedText;
    if (m_elsewhere && m_progress.state() != TransferState::Ended && m_progress.state() != TransferState::Stopped)
        return m_progress.stateText() + " (started elsewhere)";
    if (m_adoptedPid && m_adoptedAlive && m_progress.state() != TransferState::Stopped)
        // Once its output is read it reads as one started in this run.
        return m_textIsCurrent ? m_progress.stateText() : m_progress.isHeld() ? "Paused" : adoptedText;
    if (m_restored && !m_child && !m_adoptedAlive) {
        switch (*m_restored) {
        case StoredState::Paused:
            return "Paused";
        case StoredState::Complete:
            return "Complete";
        default:
            return "Stopped";
        }
    }
    return m_progress.stateText();
}

void Transfer::stop()
{
    restartWhenGone = false;
    if (m_fetchPeers) {
        // Its owner cancels the fetch; what it fetched so far is no file yet.
        m_fetchPeers.reset();
        m_restored = StoredState::Stopped;
        m_status = "Stopped";
        changed();
        return;
    }
    if (m_queued) {
        m_queued = false;
        m_restored = StoredState::Stopped;
        m_status = "Stopped";
        changed();
        return;
    }
    if (!hasClient())
        return;
    // Stopped before the signal: a client that ends at once is reaped within
    // terminate(), and its end must find it stopped, not failed.
    m_status = "Stopped";
    m_progress.stopped();
    // A stopped client's last rates are no rates.
    m_down.clear();
    m_up.clear();
    // Also wakes a paused client, so it can end; one that ignores the request
    // is killed, so that "Stopped" holds.
    if (m_elsewhere) {
        // No signal reaches it: it is asked to quit.
        m_channel->quit();
        changed();
        return;
    }
    if (m_child && connected(m_channel)) {
        // Asked on its channel it ends at once; the signal follows only if it does not.
        m_channel->quit();
        // For this client only: one started after it is no concern of this stop.
        m_stopFallback = kit::Timer::scheduled(quitGraceSeconds, false, [client = std::weak_ptr(m_child)](kit::Timer&) {
            if (auto child = client.lock(); child && child->isRunning())
                child->terminate(stopGraceSeconds);
        });
    } else if (m_child)
        m_child->terminate(stopGraceSeconds);
    else
        kit::ForeignProcess::terminate(*m_adoptedPid);
    changed();
}

bool Transfer::isQuitting()
{
    return hasClient() && m_progress.state() == TransferState::Stopped;
}

void Transfer::pause()
{
    if (!hasClient() || isPaused())
        return;
    // Through the channel the client stays connected and answers; a stopped
    // process would read as one that does not respond.
    if (connected(m_channel))
        m_channel->setPaused(true);
    else
    if (m_child)
        m_child->suspend();
    else if (m_adoptedPid)
        kit::ForeignProcess::suspend(*m_adoptedPid);
    m_status = "Paused";
    m_progress.paused();
    m_rateIsFresh = false;
    m_down.clear();
    m_up.clear();
    changed();
}

kit::ErrorOr<void> Transfer::resume()
{
    if (!hasClient())
        return {};
    if (m_progress.isDiskFull()) {
        // Going on into a full disk would only fail again.
        const auto folder = kit::DeviceLayout::current().transferWorkingFolder();
        std::error_code failed;
        const auto space = std::filesystem::space(folder, failed);
        if (!failed && space.available < roomToGoOn)
            return kit::Error { "The disk is still full: " + folder + " has " + TransferProgress::sizeText((long long)space.available)
                + " free. Make room, then resume " + m_name + "." };
    }
    if (connected(m_channel))
        m_channel->setPaused(false);
    // Also one held by a signal before its channel came.
    if (m_child)
        m_child->resume();
    else if (m_adoptedPid)
        kit::ForeignProcess::resume(*m_adoptedPid);
    m_status = m_child || m_elsewhere ? downloadingText : adoptedText;
    m_progress.resumed();
    changed();
    return {};
}

void Transfer::noticeDiskFull(std::string_view chunk)
{
    if (m_progress.isDiskFull() || !hasClient() || isPaused())
        return;
    if (chunk.find("No space left on device") == std::string_view::npos && chunk.find("WriteSlice failed") == std::string_view::npos)
        return;
    // Held, not ended: it goes on from where it was once there is room.
    pause();
    m_progress.diskFull();
    const auto folder = kit::DeviceLayout::current().transferWorkingFolder();
    std::error_code failed;
    const auto space = std::filesystem::space(folder, failed);
    const std::string body = m_name + " is paused: " + folder + " has " + (failed ? std::string("no room") : TransferProgress::sizeText((long long)space.available) + " free")
        + ". Make room, then resume it.";
    kit::log("Disk full: " + body);
    kit::Platform::current().showNotification("Disk full", body);
    m_status = "Paused";
    changed();
}

void Transfer::childEnded(kit::ChildProcess& child)
{
    // The last lines may have come after the last tick.
    const double now = kit::RunLoop::main().now();
    refreshProgress(now);
    m_progress.ended(child.terminationStatus());
    refreshProgress(now);
    // What it wrote last is read, then the end of its output.
    if (m_handle)
        m_handle->writerEnded();
    // Its last words stay in view, not a line break that followed them.
    if (m_text && isBlank(*m_text) && !m_lastWords.empty()) {
        m_shown = m_lastWords;
        if (onOutput)
            onOutput(*this);
    }
    if (onEnded)
        onEnded(*this);
}

void Transfer::noticeCompletion(std::string_view chunk)
{
    // The notice may be split between two reads: look across the seam too.
    bool found = chunk.find(clientCompleteText) != std::string_view::npos;
    if (!found && !m_chunkTail.empty()) {
        auto seam = m_chunkTail + std::string(chunk.substr(0, clientCompleteText.size() - 1));
        found = seam.find(clientCompleteText) != std::string::npos;
    }
    const size_t keep = std::min(chunk.size(), clientCompleteText.size() - 1);
    m_chunkTail.assign(chunk.substr(chunk.size() - keep));
    if (found)
        m_progress.clientSaidComplete();
}

void Transfer::readPipe(const kit::Notification& notification)
{
    if (!m_handle || notification.object != m_handle.get())
        return;
    auto keep = shared_from_this(); // a callback below may let the list drop it
    auto it = notification.userInfo.find(kit::FileHandle::DataItem);
    const std::string* bytes = it == notification.userInfo.end() ? nullptr : std::any_cast<std::string>(&it->second);
    if (!bytes || bytes->empty()) {
        kit::log(" Less than 1");
        m_pipeReads.reset();
        m_failure.finish();
        if (m_failure.words())
            m_progress.failed(*m_failure.words());
        if (m_child)
            m_child->terminate();
        refreshProgress(kit::RunLoop::main().now());
        changed();
        return;
    }
    // Output is decoded leniently: a character cut between reads waits for the
    // rest, and bytes that are no UTF-8 show as replacement characters.
    // The client prints its trackers, whose paths may hold personal keys: never shown whole.
    auto decoded = swarm::hideAddressPaths(m_decoder.decode(*bytes));
    dropPrompt(decoded);
    if (decoded.empty()) {
        m_handle->readInBackgroundAndNotify();
        return;
    }
    // A client that ends after its error and then a bare line break (in a
    // write of its own) must not leave a blank view: once it has ended, such
    // a chunk keeps its last words in view.
    if (isBlank(decoded) && !m_lastWords.empty() && m_child && !m_child->isRunning()) {
        m_handle->readInBackgroundAndNotify();
        return;
    }
    if (!isBlank(decoded))
        m_lastWords = decoded;
    if (!decoded.empty()) {
        noticeCompletion(decoded);
        m_progress.heard(kit::RunLoop::main().now());
        m_failure.feed(decoded);
        noticeDiskFull(decoded);
        if (m_failure.words())
            m_progress.failed(*m_failure.words());
        m_text = std::move(decoded);
        m_textIsCurrent = true;
        m_rateIsFresh = true;
        m_shown = *m_text;
        if (onOutput)
            onOutput(*this);
    }
    if (m_handle)
        m_handle->readInBackgroundAndNotify();
}

void Transfer::tick(double now)
{
    if (m_adoptedPid && m_adoptedAlive && !kit::ForeignProcess::isAlive(*m_adoptedPid)) {
        // An adopted client cannot be reaped: its end is seen here.
        m_adoptedAlive = false;
        m_progress.ended(std::nullopt);
        if (m_handle)
            m_handle->writerEnded();
        if (onEnded)
            onEnded(*this);
    }
    if (m_handle)
        m_handle->poll();
    // The client sends no status on its own: it is asked every second, and
    // for its files and peers every other second while somebody looks at them.
    if (connected(m_channel)) {
        m_channel->askStatus();
        const int tick = m_ticks++;
        if (m_detailsShown && tick % 2 == 0) {
            m_channel->askDetail();
            m_channel->askPeers();
        } else if (chosenFiles && !m_progress.isComplete() && tick % 5 == 0) {
            // With files skipped, the detail says when the chosen ones are all in.
            m_channel->askDetail();
        }
    }
    refreshProgress(now);
    // Without a client, or one that does not answer, there is no rate, only a last one.
    const auto state = m_progress.state();
    if (!hasClient() || state == TransferState::Stopped || state == TransferState::Ended || state == TransferState::NotResponding) {
        m_down.clear();
        m_up.clear();
        return;
    }
    // A held client's last rates are no rates: they show again with its next output.
    if (!m_text || m_progress.isHeld() || !m_rateIsFresh)
        return;
    auto fields = cutStatusLine(*m_text);
    if (!fields)
        return;
    m_prog = fields->prog;
    m_down = fields->down;
    m_up = fields->up;
}

void Transfer::refreshProgress(double now)
{
    std::optional<StatusLine> line;
    if (m_text && m_textIsCurrent)
        line = lastStatusLine(*m_text);
    // The channel's figures, where there are any, are the client's own numbers.
    if (m_channel && m_channel->status()) {
        line = lineFromStatus(*m_channel->status());
        if (m_channel->isConnected())
            m_progress.heard(m_channel->lastHeard());
    }
    m_progress.tick(line, now);
    noticeChosenComplete();
    // Once ended or complete the headline says so, never contradicting the state.
    if (auto headline = m_progress.headlineText())
        m_status = *headline;
    if (m_progress.takeCompletion() && !m_completionTold) {
        m_completionTold = true;
        kit::log(std::string(completeNotice) + ": " + m_name);
        kit::Platform::current().showNotification(completeNotice, m_name, completionActions(runPath()));
    }
}
