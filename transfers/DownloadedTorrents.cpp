#include "transfers/DownloadedTorrents.h"

#include "kit/ui/Application.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/Pipe.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "kit/gfx/Fonts.h"
#include "transfers/StatusCut.h"
#include "transfers/TipsViewController.h"
#include "transfers/TransferOptions.h"
#include "kit/net/URLEscape.h"
#include "torrent/TorrentContents.h"

#include <algorithm>
#include <any>
#include <filesystem>

namespace {
constexpr const char* downloadingText = "Downloading ...";
// What the client prints once it has every piece.
constexpr std::string_view clientCompleteText = "Download complete.";
// A client told to stop (or replaced by a new transfer) that has not ended
// after this long is killed, as the end of the application does.
constexpr double stopGraceSeconds = 10;

bool isBlank(std::string_view text)
{
    return !text.empty() && text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}
const kit::Color labelTextColor = kit::Color::rgba(76 / 255.0f, 86 / 255.0f, 108 / 255.0f, 1.0f);
// The state shares its line with the time left; alone on it, it may take the
// whole width and a second line (a failure in words is long). At the natural
// width; a wider tab widens them as the labels' masks do.
const kit::Rect stateBeside { 10, 122, 150, 18 };
const kit::Rect stateAlone { 10, 122, 300, 18 };
const kit::Rect stateTwoLines { 10, 119, 300, 32 };

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

kit::Rect widened(kit::Rect frame, float extra, float share)
{
    frame.size.width += extra * share;
    return frame;
}
} // namespace

void DownloadedTorrents::loadView()
{
    // The tab's layout: name and state on top, the three fields, the output, the buttons.
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 411 });
    // Labels and buttons spread across the width; the output takes the height left.
    const auto W = kit::ViewAutoresizingFlexibleWidth, L = kit::ViewAutoresizingFlexibleLeftMargin,
               R = kit::ViewAutoresizingFlexibleRightMargin, T = kit::ViewAutoresizingFlexibleTopMargin;
    auto label = [&](kit::Rect frame, const std::string& text, kit::Font font, kit::AutoresizingMask mask = kit::ViewAutoresizingFlexibleWidth) {
        auto l = kit::View::create<kit::Label>(frame);
        l->setAutoresizingMask(mask);
        l->setText(text);
        l->setFont(font);
        root->addSubview(l);
        return l.get();
    };
    torrentLabel = label({ 10, 8, 300, 22 }, noTorrentText, kit::Font::boldSystemFont(15));
    status = label({ 10, 32, 300, 20 }, "Idle", kit::Font::systemFont(14));
    prog = label({ 10, 56, 90, 20 }, "", kit::Font::systemFont(13), W | R);
    dnLabel = label({ 110, 56, 95, 20 }, "", kit::Font::systemFont(13), L | W | R);
    upLabel = label({ 215, 56, 95, 20 }, "", kit::Font::systemFont(13), L | W);
    // Beside the cut's fields: the bar with its percentage, rates, state and time left.
    auto bar = kit::View::create<kit::ProgressView>(kit::Rect { 10, 85, 240, 10 });
    bar->setHidden(true); // until a transfer starts
    bar->setAutoresizingMask(W);
    progressBar = bar.get();
    root->addSubview(bar);
    percentLabel = label({ 255, 80, 55, 20 }, "", kit::Font::boldSystemFont(14), L);
    percentLabel->setTextAlignment(kit::TextAlignment::Right);
    ratesLabel = label({ 10, 102, 300, 18 }, "", kit::Font::systemFont(13));
    stateLabel = label(stateBeside, "", kit::Font::boldSystemFont(13), W | R);
    stateLabel->setLineBreakMode(kit::LineBreakMode::WordWrap);
    timeLeftLabel = label({ 160, 122, 150, 18 }, "", kit::Font::systemFont(13), L | W);
    timeLeftLabel->setTextAlignment(kit::TextAlignment::Right);
    auto tv = kit::View::create<kit::TextView>(kit::Rect { 10, 153, 300, 199 });
    tv->setBackgroundColor(kit::Color::white());
    tv->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    txtView = tv.get();
    root->addSubview(tv);
    const float y = 362, w = 72, gap = 4;
    auto button = [&](int i, const char* title, std::function<void()> action, kit::AutoresizingMask mask) {
        auto b = kit::Button::create({ 10 + float(i) * (w + gap), y, w, 37 }, title, std::move(action));
        b->setAutoresizingMask(T | W | mask);
        root->addSubview(b);
        return b.get();
    };
    stopButton = button(0, "Stop", [this] { Stoppressed(); }, R);
    pauseButton = button(1, "Pause", [this] { Pausepressed(); }, L | R);
    resumeButton = button(2, "Resume", [this] { Resumepressed(); }, L | R);
    // Options is always there; the others wait for a transfer to act on.
    for (auto* b : { stopButton, pauseButton, resumeButton })
        b->setEnabled(false);
    button(3, "Options", [this] { goQueue(); }, L);
    setView(root);
}

void DownloadedTorrents::awakeFromNib()
{
    view().setBackgroundColor(kit::Color::groupTableViewBackground());
}

void DownloadedTorrents::viewDidAppear(bool)
{
    auto& defaults = kit::UserDefaults::standard();
    m_downloadTorrent = defaults.stringForKey("DownloadTorrent");
    auto name = defaults.stringForKey("DownloadTorrentName");
    if (defaults.stringForKey("DownloadTorrentBool") == "Yes") {
        clearLastTransfer();
        showDownloadAlert(m_downloadTorrent.value_or(""));
        torrentLabel->setText(name.value_or(""));
    } else if (m_shellProcess && m_shellProcess->isRunning()) {
        // A running transfer is named, not denied.
        torrentLabel->setText(m_runningName);
    } else {
        torrentLabel->setText(noTorrentText);
    }
}

void DownloadedTorrents::clearLastTransfer()
{
    // A running transfer is not the last one: it stays in view until the answer.
    if (isTransferRunning() || !txtView)
        return;
    m_text.reset();
    m_textIsCurrent = false;
    m_failure.reset();
    m_progress = TransferProgress {};
    txtView->setText("");
    for (auto* field : { prog, dnLabel, upLabel })
        field->setText("");
    status->setText("Idle");
    refreshProgress();
}

bool DownloadedTorrents::isTransferRunning() const
{
    return m_shellProcess && m_shellProcess->isRunning() && m_progress.state() != TransferState::Stopped;
}

void DownloadedTorrents::showDownloadAlert(const std::string& path)
{
    auto alert = kit::AlertView::create("Alert", "Do you want to download:\n " + path, kit::weakAs<kit::AlertViewDelegate>(*this), "No", { "Yes" });
    alert->show();
}

void DownloadedTorrents::alertViewClickedButtonAtIndex(kit::AlertView&, int index)
{
    if (index != 0 && index != 1)
        return;
    // A failed start is not reported as a running transfer.
    if (index == 1 && startDownload(m_downloadTorrent.value_or("")))
        status->setText(downloadingText);
    kit::UserDefaults::standard().setObject("No", "DownloadTorrentBool");
}

void DownloadedTorrents::endCurrentChild()
{
    // A new start replaces the current child: end it and stop reading it, so
    // that no transfer runs on unseen behind the new one.
    if (m_shellProcess) {
        m_shellProcess->onTerminate = nullptr;
        if (m_shellProcess->isRunning())
            m_shellProcess->terminate(stopGraceSeconds);
    }
    m_pipeReads.reset();
    m_handle.reset();
}

void DownloadedTorrents::reportStartFailure(const std::string& why)
{
    kit::log(why);
    txtView->setText(why);
    // The text view is the running transfer's once its next chunk comes, so
    // the failure is also told where it stays until read.
    auto alert = kit::AlertView::create("Transfer not started", why, {}, "OK", {});
    alert->show();
    if (m_shellProcess && m_shellProcess->isRunning())
        torrentLabel->setText(m_runningName);
}

bool DownloadedTorrents::startDownload(const std::string& path)
{
    view();
    dnLabel->setTextColor(labelTextColor);
    upLabel->setTextColor(labelTextColor);
    dnLabel->setBackgroundColor(kit::Color::clear());
    upLabel->setBackgroundColor(kit::Color::clear());
    kit::log("Testing NSLog: Entry");

    std::vector<std::string> problems;
    auto options = TransferOptions::stored(kit::UserDefaults::standard(), &problems);
    for (auto& problem : problems)
        kit::log(problem);
    auto madePipe = kit::Pipe::create();
    if (!madePipe) {
        reportStartFailure("The transfer could not be started: no pipe could be made (" + madePipe.error().message + ").");
        return false;
    }
    auto pipe = madePipe.release();
    // A running transfer is ended only once its successor has started, so a
    // start that fails leaves it going.
    auto handle = pipe->fileHandleForReading();
    handle->readInBackgroundAndNotify();

    auto& layout = kit::DeviceLayout::current();
    auto child = kit::ChildProcess::create();
    child->setLaunchPath(layout.ctorrentPath());
    child->setCurrentDirectoryPath(layout.transferWorkingFolder());
    child->setArguments(options.arguments(path));
    child->setStandardOutput(pipe);
    child->setStandardError(pipe);
    if (auto launched = child->launch(); !launched) {
        std::string why = "The transfer could not be started.\n" + launched.error().message;
        if (launched.error().failure == kit::ChildProcess::LaunchFailure::Program)
            why += "\nThe transfer client ctorrent must be installed at " + layout.ctorrentPath() + ".";
        reportStartFailure(why);
        return false;
    }

    endCurrentChild();
    m_handle = std::move(handle);
    m_shellProcess = std::move(child);
    // The child may outlive this controller (its end is still reaped): then it calls nobody back.
    m_shellProcess->onTerminate = kit::bindWeak(*this, &DownloadedTorrents::childEnded);
    m_decoder = {};
    m_textIsCurrent = false;
    m_chunkTail.clear();
    m_failure.reset();
    m_rateIsFresh = false;
    m_lastWords.clear();
    m_runningName = kit::UserDefaults::standard().stringForKey("DownloadTorrentName").value_or(std::filesystem::path(path).filename().string());
    m_progress.started();
    refreshProgress();

    m_pipeReads = kit::NotificationCenter::defaultCenter().addObserver(
        [this](const kit::Notification& n) { readPipe(n); }, kit::FileHandle::ReadCompletionNotification, nullptr);
    // One tick serves every start.
    if (!isTicking())
        m_tick = kit::Timer::scheduled(1.0, true, [this](kit::Timer&) { devideString(); });
    return true;
}

void DownloadedTorrents::childEnded(kit::ChildProcess& child)
{
    // The last lines may have come after the last tick.
    refreshProgress();
    m_progress.ended(child.terminationStatus());
    refreshProgress();
    // Its last words stay in view, not a line break that followed them.
    if (m_text && isBlank(*m_text) && !m_lastWords.empty()) {
        txtView->setText(m_lastWords);
    }
}

void DownloadedTorrents::noticeCompletion(std::string_view chunk)
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

void DownloadedTorrents::readPipe(const kit::Notification& notification)
{
    if (!m_handle || notification.object != m_handle.get())
        return;
    auto it = notification.userInfo.find(kit::FileHandle::DataItem);
    const std::string* bytes = it == notification.userInfo.end() ? nullptr : std::any_cast<std::string>(&it->second);
    if (!bytes || bytes->empty()) {
        kit::log(" Less than 1");
        m_pipeReads.reset();
        m_failure.finish();
        if (m_failure.words())
            m_progress.failed(*m_failure.words());
        if (m_shellProcess)
            m_shellProcess->terminate();
        refreshProgress();
        return;
    }
    // Output is decoded leniently: a character cut between reads waits for the
    // rest, and bytes that are no UTF-8 show as replacement characters.
    auto decoded = m_decoder.decode(*bytes);
    // A client that ends after its error and then a bare line break (in a
    // write of its own) must not leave a blank view: once it has ended, such
    // a chunk keeps its last words in view.
    if (isBlank(decoded) && !m_lastWords.empty() && m_shellProcess && !m_shellProcess->isRunning()) {
        m_handle->readInBackgroundAndNotify();
        return;
    }
    if (!isBlank(decoded))
        m_lastWords = decoded;
    if (!decoded.empty()) {
        noticeCompletion(decoded);
        m_failure.feed(decoded);
        if (m_failure.words())
            m_progress.failed(*m_failure.words());
        m_text = std::move(decoded);
        m_textIsCurrent = true;
        m_rateIsFresh = true;
        txtView->setText(*m_text);
    }
    m_handle->readInBackgroundAndNotify();
}

void DownloadedTorrents::devideString()
{
    refreshProgress();
    // A held client's last rates are no rates: they show again with its next output.
    if (!m_text || m_progress.state() == TransferState::Paused || !m_rateIsFresh)
        return;
    auto fields = cutStatusLine(*m_text);
    if (!fields)
        return;
    prog->setText(fields->prog);
    dnLabel->setText(fields->down);
    upLabel->setText(fields->up);
}

void DownloadedTorrents::refreshProgress()
{
    std::optional<StatusLine> line;
    if (m_text && m_textIsCurrent)
        line = lastStatusLine(*m_text);
    m_progress.tick(line, kit::RunLoop::main().now());
    // A transfer that ended before its first status line has no progress to show.
    progressBar->setHidden(m_progress.state() == TransferState::Idle || (!m_progress.latest() && m_progress.state() == TransferState::Ended));
    progressBar->setProgress(m_progress.latest() ? float(m_progress.latest()->fraction()) : 0.0f);
    percentLabel->setText(m_progress.percentText());
    ratesLabel->setText(m_progress.ratesText());
    stateLabel->setText(m_progress.stateText());
    timeLeftLabel->setText(m_progress.timeLeftText());
    const auto state = m_progress.stateText();
    const float extra = std::max(0.0f, view().bounds().size.width - 320);
    const auto alone = widened(stateAlone, extra, 1);
    bool twoLines = false;
    if (!m_progress.timeLeftText().empty())
        stateLabel->setFrame(widened(stateBeside, extra, 0.5f));
    // With room to spare: the window's own font may draw wider than measured.
    else if (kit::Fonts::measure(state, stateLabel->font()).width <= alone.size.width * 0.8f)
        stateLabel->setFrame(alone);
    else {
        stateLabel->setFrame(widened(stateTwoLines, extra, 1));
        twoLines = true;
    }
    stateLabel->setNumberOfLines(twoLines ? 2 : 1);
    if (auto headline = m_progress.headlineText())
        status->setText(*headline);
    refreshButtons();
    if (m_progress.takeCompletion()) {
        kit::log(std::string(completeNotice) + ": " + m_runningName);
        kit::Platform::current().showNotification(completeNotice, m_runningName, completionActions(runningTorrentPath()));
    }
}

void DownloadedTorrents::refreshButtons()
{
    const bool running = isTransferRunning();
    const bool paused = m_progress.state() == TransferState::Paused;
    stopButton->setEnabled(running);
    pauseButton->setEnabled(running && !paused);
    resumeButton->setEnabled(running && paused);
}

void DownloadedTorrents::Stoppressed()
{
    if (!m_shellProcess || !m_shellProcess->isRunning())
        return;
    // Also wakes a paused child, so it can end; one that ignores the request
    // is killed, so that "Stopped" holds.
    m_shellProcess->terminate(stopGraceSeconds);
    status->setText("Stopped");
    m_progress.stopped();
    refreshProgress();
}

void DownloadedTorrents::Pausepressed()
{
    if (!m_shellProcess || !m_shellProcess->isRunning())
        return;
    m_shellProcess->suspend();
    status->setText("Paused");
    m_progress.paused();
    m_rateIsFresh = false;
    dnLabel->setText("");
    upLabel->setText("");
    refreshProgress();
}

void DownloadedTorrents::Resumepressed()
{
    if (!m_shellProcess || !m_shellProcess->isRunning())
        return;
    m_shellProcess->resume();
    status->setText(downloadingText);
    m_progress.resumed();
    refreshProgress();
}

void DownloadedTorrents::goQueue()
{
    auto options = std::make_shared<TipsViewController>();
    m_optionsViewController = options;
    presentModalViewController(options, true);
}
