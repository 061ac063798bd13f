#include "transfers/DownloadedTorrents.h"

#include "kit/core/DeviceLayout.h"
#include "kit/core/Log.h"
#include "kit/core/Pipe.h"
#include "kit/core/Platform.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "kit/gfx/Fonts.h"
#include "kit/ui/Application.h"
#include "kit/ui/LaidOutView.h"
#include "torrent/Magnet.h"
#include "transfers/StatusCut.h"
#include "transfers/TipsViewController.h"
#include "transfers/TransferDetailsViewController.h"
#include "transfers/TransferOptions.h"
#include "transfers/TransferService.h"

#include <algorithm>
#include <any>
#include <cmath>
#include <filesystem>

namespace {
constexpr const char* downloadingText = Transfer::downloadingText;
const kit::Color labelTextColor = kit::Color::rgba(76 / 255.0f, 86 / 255.0f, 108 / 255.0f, 1.0f);
// The state shares its line with the time left; alone on it, it may take the
// whole width and a second line (a failure in words is long). At the natural
// width; a wider tab widens them as the labels' masks do.
const kit::Rect stateBeside { 10, 122, 150, 18 };
const kit::Rect stateAlone { 10, 122, 300, 18 };
const kit::Rect stateTwoLines { 10, 119, 300, 32 };

kit::Rect widened(kit::Rect frame, float extra, float share)
{
    frame.size.width += extra * share;
    return frame;
}

// The list of transfers: one row each, the front one marked.
constexpr float rowHeight = TransferRows::rowHeight;
constexpr float wideTab = 600; // from this width the list stands beside the text view

} // namespace

DownloadedTorrents::DownloadedTorrents()
    : m_feed(TransferFeed::make())
{
}

void DownloadedTorrents::loadView()
{
    // The tab's layout: name and state on top, the three fields, the output, the buttons.
    auto root = kit::View::create<kit::LaidOutView>(kit::Rect { 0, 0, 320, 411 });
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
    torrentLabel = label({ 10, 8, 166, 22 }, noTorrentText, kit::Font::boldSystemFont(15));
    auto addLink = kit::Button::create({ 180, 2, 66, 30 }, addLinkTitle, [this] { askForLink(); });
    addLink->setAutoresizingMask(L);
    addLinkButton = addLink.get();
    root->addSubview(addLink);
    auto details = kit::Button::create({ 250, 2, 60, 30 }, "Details", [this] {
        if (!m_frontCleared)
            if (auto* front = m_feed->front())
                showDetails(front->id);
    });
    details->setAutoresizingMask(L);
    details->setEnabled(false);
    detailsButton = details.get();
    root->addSubview(details);
    status = label({ 10, 32, 300, 20 }, "Idle", kit::Font::systemFont(14));
    auto spinner = kit::View::create<SpinnerLabel>(kit::Rect { 10, 56, 90, 20 });
    spinner->setAutoresizingMask(W | R);
    spinner->setFont(kit::Font::systemFont(13));
    prog = spinner.get();
    root->addSubview(spinner);
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
    noteLabel = label({ 10, 140, 300, 13 }, "", kit::Font::systemFont(11));
    noteLabel->setHidden(true);
    noteLabel->setTextColor(kit::Color::rgba(0.6f, 0.2f, 0.1f));
    auto tv = kit::View::create<kit::TextView>(kit::Rect { 10, 153, 300, 199 });
    tv->setBackgroundColor(kit::Color::white());
    tv->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    // What the client writes, to a screen reader too.
    tv->setAccessibilityLabel("Client output");
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
    optionsButton = button(3, "Options", [this] { goQueue(); }, L);
    // The list of transfers (from two on) is made when it is needed.
    root->onLayout = [this] {
        spreadButtons();
        layoutTransferList();
    };
    setView(root);
    m_feed->delegate = kit::weakAs<TransferListDelegate>(*this);
    m_windowShown = kit::NotificationCenter::defaultCenter().addObserver(
        [weak = kit::weakAs<DownloadedTorrents>(*this)](const kit::Notification&) {
            if (auto self = weak.lock())
                self->updateSeen();
        },
        kit::Platform::WindowShownChangedNotification, nullptr);
    updateSeen();
}

void DownloadedTorrents::updateSeen()
{
    m_feed->setSeen(m_onScreen && kit::Platform::current().isWindowShown());
}

void DownloadedTorrents::awakeFromNib()
{
    view().setBackgroundColor(kit::Color::groupTableViewBackground());
    addLinkButton->setHidden(!openLink);
    // The application starts on another tab: its transfers are not seen yet.
    m_onScreen = view().window() != nullptr;
    updateSeen();
}

void DownloadedTorrents::viewDidDisappear(bool)
{
    m_onScreen = false;
    updateSeen();
}

TransferService* DownloadedTorrents::service() const
{
    return dynamic_cast<TransferService*>(m_feed.get());
}

const std::shared_ptr<kit::ChildProcess>& DownloadedTorrents::shellProcess() const
{
    static const std::shared_ptr<kit::ChildProcess> none;
    auto* owner = service();
    auto* front = owner ? owner->list().front() : nullptr;
    return front ? front->child() : none;
}

TransferList& DownloadedTorrents::transfers()
{
    return service()->list();
}

std::string DownloadedTorrents::runningTorrentPath() const
{
    auto* front = m_feed->front();
    return front && front->ownClientRunning ? front->path : std::string();
}

std::vector<TransferSummary> DownloadedTorrents::summaries() const
{
    std::vector<TransferSummary> lines;
    for (auto& t : m_feed->transfers())
        lines.push_back({ t.path, t.fraction, StoredState(t.storedState), t.hasClient });
    return lines;
}

void DownloadedTorrents::viewDidAppear(bool)
{
    m_onScreen = true;
    updateSeen();
    auto& defaults = kit::UserDefaults::standard();
    m_downloadTorrent = defaults.stringForKey("DownloadTorrent");
    auto name = defaults.stringForKey("DownloadTorrentName");
    auto* front = m_feed->front();
    if (defaults.stringForKey("DownloadTorrentBool") == "Yes") {
        clearLastTransfer();
        // A magnet link is asked for by its name (its hash without one), not the long link.
        const auto asked = m_downloadTorrent.value_or("");
        showDownloadAlert(torrent::isMagnetLink(asked) ? name.value_or(asked) : asked);
        torrentLabel->setText(name.value_or(""));
    } else if (front && !m_frontCleared && (front->hasClient || m_feed->transfers().size() >= 2)) {
        // A running transfer is named, not denied; so is the front one of a list.
        torrentLabel->setText(front->name);
    } else {
        torrentLabel->setText(noTorrentText);
    }
}

void DownloadedTorrents::clearLastTransfer()
{
    // A running transfer is not the last one: it stays in view until the answer.
    if (isTransferRunning() || !txtView)
        return;
    m_frontCleared = true;
    m_shown = 0;
    txtView->setText("");
    for (kit::Label* field : { static_cast<kit::Label*>(prog), dnLabel, upLabel }) {
        field->setText("");
        field->setAccessibilityLabel("");
    }
    prog->setTurning(false);
    status->setText("Idle");
    refreshProgress();
}

bool DownloadedTorrents::isTransferRunning() const
{
    for (auto& transfer : m_feed->transfers())
        if (transfer.running)
            return true;
    return false;
}

void DownloadedTorrents::showDownloadAlert(const std::string& path)
{
    auto alert = kit::AlertView::create("Alert", "Do you want to download:\n " + path, kit::weakAs<kit::AlertViewDelegate>(*this), "No", { "Yes" });
    alert->show();
}

void DownloadedTorrents::alertViewClickedButtonAtIndex(kit::AlertView& alert, int index)
{
    if (&alert == m_linkAlert.lock().get()) {
        auto text = m_linkField ? m_linkField->text() : std::string();
        m_linkField.reset();
        if (index == 1)
            addLink(text);
        return;
    }
    if (index != 0 && index != 1)
        return;
    // The last transfer was cleared from view for the question; answered, it
    // is shown again (an ended one stays in the list, its failure with it).
    if (m_frontCleared && m_feed->front()) {
        m_frontCleared = false;
        showFront(true);
    }
    // A failed start is not reported as a running transfer.
    if (index == 1 && startDownload(m_downloadTorrent.value_or("")) && m_feed->front())
        status->setText(m_feed->front()->status);
    kit::UserDefaults::standard().setObject("No", "DownloadTorrentBool");
}

void DownloadedTorrents::askForLink()
{
    if (!openLink)
        return;
    auto alert = kit::AlertView::create();
    alert->setDelegate(kit::weakAs<kit::AlertViewDelegate>(*this));
    alert->setTitle(addLinkTitle);
    alert->setMessage("A magnet link, or the address of a .torrent file:\n");
    alert->addButtonWithTitle("Cancel");
    alert->addButtonWithTitle("Add");
    m_linkField = alert->addEntryField("Link");
    m_linkField->setPlaceholder("magnet:?… or https://…");
    m_linkField->setDelegate(kit::weakAs<kit::TextFieldDelegate>(*this));
    m_linkAlert = alert;
    alert->show();
}

bool DownloadedTorrents::textFieldShouldReturn(kit::TextField& field)
{
    auto alert = m_linkAlert.lock();
    if (&field != m_linkField.get() || !alert || !alert->isVisible())
        return true;
    alert->dismissWithClickedButtonIndex(1, true);
    return false;
}

void DownloadedTorrents::addLink(const std::string& text)
{
    // One link at a time: the button waits for the answer.
    addLinkButton->setEnabled(false);
    openLink(text, [weak = kit::weakAs<DownloadedTorrents>(*this)](bool) {
        if (auto self = weak.lock())
            self->addLinkButton->setEnabled(true);
    });
}

void DownloadedTorrents::reportStartFailure(const std::string& why)
{
    kit::log(why);
    txtView->setText(why);
    // The text view is the running transfer's once its next chunk comes, so
    // the failure is also told where it stays until read.
    auto alert = kit::AlertView::create("Transfer not started", why, {}, "OK", {});
    alert->show();
    if (auto* front = m_feed->front(); front && front->hasClient)
        torrentLabel->setText(front->name);
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
    auto name = kit::UserDefaults::standard().stringForKey("DownloadTorrentName").value_or(std::filesystem::path(path).filename().string());
    // A start that fails leaves the list, and what runs, as it was.
    // The owner answers at once in this process, later over the service's socket.
    auto failed = std::make_shared<bool>(false);
    m_feed->ask(path, name, options, [weak = kit::weakAs<DownloadedTorrents>(*this), failed, name](AskAnswer answer) {
        if (answer.asked == Asked::AlreadyThere)
            kit::log(name + " is already in the list of transfers: brought to the front");
        if (answer.asked != Asked::Failed)
            return;
        *failed = true;
        if (auto self = weak.lock())
            self->reportStartFailure(answer.failure.value_or("The transfer could not be started."));
    });
    return !*failed;
}

void DownloadedTorrents::restoreTransfers()
{
    view();
    m_feed->restore();
}

void DownloadedTorrents::endAllTransfers()
{
    m_feed->endAll();
}

void DownloadedTorrents::transferListChanged()
{
    auto* front = m_feed->front();
    if (front && (front->id != m_shown || m_frontCleared)) {
        m_frontCleared = false;
        showFront(true);
    } else {
        showFront(false);
    }
    if (m_feed->transfers().size() != m_listedCount)
        layoutTransferList();
    else
        rebuildTransferRows();
}

void DownloadedTorrents::transferListFrontOutput()
{
    auto* front = m_feed->front();
    if (!front || m_frontCleared)
        return;
    txtView->setText(front->shown);
}

void DownloadedTorrents::transferListTicked()
{
    showFront(false);
    if (m_feed->transfers().size() >= 2)
        rebuildTransferRows();
}

void DownloadedTorrents::showFront(bool whole)
{
    auto* front = m_feed->front();
    if (!front || m_frontCleared) {
        prog->setTurning(false);
        refreshProgress();
        return;
    }
    if (whole) {
        m_shown = front->id;
        torrentLabel->setText(front->name);
        txtView->setText(front->shown);
    } else if (front->hasClient || m_feed->transfers().size() >= 2) {
        torrentLabel->setText(front->name); // started again by Resume, or the front one of a list
    }
    prog->setText(front->prog);
    prog->setTurning(front->running && !front->paused);
    dnLabel->setText(front->down);
    upLabel->setText(front->up);
    // The cut's bare numbers, read with their unit and direction.
    dnLabel->setAccessibilityLabel(TransferProgress::spokenFieldRate("Download", front->down));
    upLabel->setAccessibilityLabel(TransferProgress::spokenFieldRate("Upload", front->up));
    status->setText(front->status);
    refreshProgress();
}

void DownloadedTorrents::refreshProgress()
{
    auto* front = m_frontCleared ? nullptr : m_feed->front();
    static const TransferSnapshot idle = [] {
        TransferSnapshot s;
        s.stateText = TransferProgress().stateText();
        return s;
    }();
    const auto& shown = front ? *front : idle;
    // A transfer that ended before its first status line has no progress to show.
    progressBar->setHidden(!shown.showsProgress());
    progressBar->setProgress(float(shown.fraction));
    percentLabel->setText(shown.percentText);
    ratesLabel->setText(shown.ratesText);
    ratesLabel->setAccessibilityLabel(shown.spokenRatesText);
    const auto& state = shown.stateText;
    stateLabel->setText(state);
    timeLeftLabel->setText(shown.timeLeftText);
    const float extra = std::max(0.0f, view().bounds().size.width - 320);
    const auto alone = widened(stateAlone, extra, 1);
    bool twoLines = false;
    if (!shown.timeLeftText.empty())
        stateLabel->setFrame(widened(stateBeside, extra, 0.5f));
    // With room to spare: the window's own font may draw wider than measured.
    else if (kit::Fonts::measure(state, stateLabel->font()).width <= alone.size.width * 0.8f)
        stateLabel->setFrame(alone);
    else {
        stateLabel->setFrame(widened(stateTwoLines, extra, 1));
        twoLines = true;
    }
    stateLabel->setNumberOfLines(twoLines ? 2 : 1);
    // The note shares the state's second line: it waits while the state needs it.
    std::string note = m_feed->channelProblem();
    if (front && !front->note.empty())
        note = front->note;
    // The gateway's word on the torrent's trackers outweighs the client's on the gateway.
    if (front && !front->trackerNote.empty())
        note = front->trackerNote;
    noteLabel->setText(twoLines ? "" : note);
    noteLabel->setHidden(twoLines || note.empty());
    refreshButtons();
}

void DownloadedTorrents::refreshButtons()
{
    auto* front = m_frontCleared ? nullptr : m_feed->front();
    const bool running = front && front->running;
    const bool paused = running && front->paused;
    // One without a client (stopped, ended, known from the stored list) starts again.
    // So does one still quitting after Stop (once it has gone).
    const bool restartable = front && ((!front->hasClient && !front->queued) || (front->quitting && !front->restartWhenGone));
    stopButton->setEnabled(running || (front && front->queued));
    pauseButton->setEnabled(running && !paused);
    resumeButton->setEnabled((running && paused) || restartable);
    detailsButton->setEnabled(front != nullptr);
}

void DownloadedTorrents::spreadButtons()
{
    if (!optionsButton)
        return;
    const float width = view().bounds().size.width;
    const float gap = 4 * std::max(1.0f, width / 320);
    const float w = std::max(0.0f, (width - 20 - 3 * gap) / 4);
    int i = 0;
    for (auto* b : { stopButton, pauseButton, resumeButton, optionsButton }) {
        const auto f = b->frame();
        b->setFrame({ 10 + float(i++) * (w + gap), f.y(), w, f.height() });
    }
}

void DownloadedTorrents::layoutTransferList()
{
    if (!txtView)
        return;
    const auto size = view().bounds().size;
    // Today's text view at this size, as its mask makes it.
    const kit::Rect textArea { 10, 153, size.width - 20, std::max(0.0f, size.height - 212) };
    m_listedCount = m_feed->transfers().size();
    if (m_listedCount < 2) {
        // With one transfer or none the tab is as it always was.
        if (transferListView) {
            transferListView->removeFromSuperview();
            transferListView = nullptr;
            m_transferRows.reset();
            txtView->setFrame(textArea);
        }
        return;
    }
    if (!transferListView) {
        m_transferRows = std::make_shared<TransferRows>(
            m_feed, [this](uint64_t id) { showDetails(id); }, [this] { return m_frontCleared; });
        auto list = m_transferRows->makeTable({ 10, 153, 300, 0 });
        transferListView = list.get();
        view().addSubview(list);
    }
    if (size.width >= wideTab) {
        // Beside: the list takes the right part of the text view's room.
        const float listWidth = std::min(380.0f, (textArea.size.width - 10) / 2);
        txtView->setFrame({ textArea.x(), textArea.y(), textArea.size.width - listWidth - 10, textArea.size.height });
        transferListView->setFrame({ textArea.maxX() - listWidth, textArea.y(), listWidth, textArea.size.height });
    } else {
        // Above: as many rows as leave the text view some room, at least two;
        // more scroll, and half of the next one shows that there are more.
        const size_t fit = size_t(std::max(2.0f, std::floor(textArea.size.height * 0.6f / rowHeight)));
        const float listHeight = float(std::min(m_listedCount, fit)) * rowHeight + (m_listedCount > fit ? rowHeight / 2 : 0);
        transferListView->setFrame({ textArea.x(), textArea.y(), textArea.size.width, listHeight });
        txtView->setFrame({ textArea.x(), textArea.y() + listHeight + 4, textArea.size.width, std::max(0.0f, textArea.size.height - listHeight - 4) });
    }
    rebuildTransferRows();
}

void DownloadedTorrents::rebuildTransferRows()
{
    if (transferListView && m_transferRows)
        m_transferRows->refresh(*transferListView);
}

void DownloadedTorrents::Stoppressed()
{
    if (m_frontCleared)
        return;
    m_feed->stopFront();
}

void DownloadedTorrents::Pausepressed()
{
    if (m_frontCleared)
        return;
    m_feed->pauseFront();
}

void DownloadedTorrents::Resumepressed()
{
    if (m_frontCleared)
        return;
    m_feed->resumeFront([weak = kit::weakAs<DownloadedTorrents>(*this)](kit::ErrorOr<void> resumed) {
        if (auto self = weak.lock(); self && !resumed)
            self->reportStartFailure(resumed.error().message);
    });
}

void DownloadedTorrents::showDetails(uint64_t id)
{
    if (!m_feed->find(id))
        return;
    auto details = std::make_shared<TransferDetailsViewController>(m_feed, id);
    m_details = details;
    presentModalViewController(details, true);
}

void DownloadedTorrents::goQueue()
{
    auto options = std::make_shared<TipsViewController>();
    options->limitsApplyAtOnce = m_feed->channelProblem().empty();
    options->onOptionsChanged = [feed = std::weak_ptr<TransferFeed>(m_feed)] {
        if (auto f = feed.lock())
            f->optionsChanged();
    };
    m_optionsViewController = options;
    presentModalViewController(options, true);
}
