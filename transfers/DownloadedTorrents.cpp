#include "transfers/DownloadedTorrents.h"

#include "kit/DeviceLayout.h"
#include "kit/Log.h"
#include "kit/Pipe.h"
#include "kit/UserDefaults.h"
#include "transfers/StatusCut.h"
#include "transfers/TipsViewController.h"

#include <any>

namespace {
constexpr const char* downloadingText = "Downloading ...";
const kit::Color labelTextColor = kit::Color::rgba(76 / 255.0f, 86 / 255.0f, 108 / 255.0f, 1.0f);
} // namespace

DownloadedTorrents::~DownloadedTorrents()
{
    kit::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_tick)
        m_tick->invalidate();
}

void DownloadedTorrents::loadView()
{
    // The tab's layout: name and state on top, the three fields, the output, the buttons.
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 411 });
    auto label = [&](kit::Rect frame, const std::string& text, kit::Font font) {
        auto l = kit::View::create<kit::Label>(frame);
        l->setText(text);
        l->setFont(font);
        root->addSubview(l);
        return l.get();
    };
    torrentLabel = label({ 10, 8, 300, 22 }, noTorrentText, kit::Font::boldSystemFont(15));
    status = label({ 10, 32, 300, 20 }, "Idle", kit::Font::systemFont(14));
    prog = label({ 10, 56, 90, 20 }, "", kit::Font::systemFont(13));
    dnLabel = label({ 110, 56, 95, 20 }, "", kit::Font::systemFont(13));
    upLabel = label({ 215, 56, 95, 20 }, "", kit::Font::systemFont(13));
    auto tv = kit::View::create<kit::TextView>(kit::Rect { 10, 82, 300, 270 });
    tv->setBackgroundColor(kit::Color::white());
    txtView = tv.get();
    root->addSubview(tv);
    const float y = 362, w = 72, gap = 4;
    root->addSubview(kit::Button::create({ 10, y, w, 37 }, "Stop", [this] { Stoppressed(); }));
    root->addSubview(kit::Button::create({ 10 + (w + gap), y, w, 37 }, "Pause", [this] { Pausepressed(); }));
    root->addSubview(kit::Button::create({ 10 + 2 * (w + gap), y, w, 37 }, "Resume", [this] { Resumepressed(); }));
    root->addSubview(kit::Button::create({ 10 + 3 * (w + gap), y, w, 37 }, "Options", [this] { goQueue(); }));
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
        showDownloadAlert(m_downloadTorrent.value_or(""));
        torrentLabel->setText(name.value_or(""));
    } else {
        torrentLabel->setText(noTorrentText);
    }
}

void DownloadedTorrents::showDownloadAlert(const std::string& path)
{
    auto alert = kit::AlertView::create("Alert", "Do you want to download:\n " + path, this, "No", { "Yes" });
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
    if (m_shellProcess && m_shellProcess->isRunning())
        m_shellProcess->terminate();
    kit::NotificationCenter::defaultCenter().removeObserver(this);
    m_handle.reset();
}

bool DownloadedTorrents::startDownload(const std::string& path)
{
    view();
    dnLabel->setTextColor(labelTextColor);
    upLabel->setTextColor(labelTextColor);
    dnLabel->setBackgroundColor(kit::Color::clear());
    upLabel->setBackgroundColor(kit::Color::clear());
    kit::log("Testing NSLog: Entry");

    endCurrentChild();
    std::vector<std::string> arguments { path };
    auto pipe = kit::Pipe::create();
    if (!pipe) {
        txtView->setText("The transfer could not be started: no pipe could be made.");
        return false;
    }
    m_handle = pipe->fileHandleForReading();
    m_decoder = {};
    m_handle->readInBackgroundAndNotify();

    auto& layout = kit::DeviceLayout::current();
    m_shellProcess = kit::ChildProcess::create();
    m_shellProcess->setLaunchPath(layout.ctorrentPath());
    m_shellProcess->setCurrentDirectoryPath(layout.transferWorkingFolder());
    m_shellProcess->setArguments(arguments);
    m_shellProcess->setStandardOutput(pipe);
    m_shellProcess->setStandardError(pipe);
    if (!m_shellProcess->launch()) {
        std::string why = "The transfer could not be started.\n" + m_shellProcess->launchError()
            + "\nThe transfer client ctorrent must be installed at " + layout.ctorrentPath() + ".";
        kit::log(why);
        txtView->setText(why);
        m_handle.reset();
        return false;
    }

    kit::NotificationCenter::defaultCenter().addObserver(
        this, [this](const kit::Notification& n) { readPipe(n); }, kit::FileHandle::ReadCompletionNotification, nullptr);
    // One tick serves every start.
    if (!isTicking())
        m_tick = kit::Timer::scheduled(1.0, true, [this](kit::Timer&) { devideString(); });
    return true;
}

void DownloadedTorrents::readPipe(const kit::Notification& notification)
{
    if (!m_handle || notification.object != m_handle.get())
        return;
    auto it = notification.userInfo.find(kit::FileHandle::DataItem);
    const std::string* bytes = it == notification.userInfo.end() ? nullptr : std::any_cast<std::string>(&it->second);
    if (!bytes || bytes->empty()) {
        kit::log(" Less than 1");
        kit::NotificationCenter::defaultCenter().removeObserver(this);
        if (m_shellProcess)
            m_shellProcess->terminate();
        return;
    }
    // Output is decoded leniently: a character cut between reads waits for the
    // rest, and bytes that are no UTF-8 show as replacement characters.
    auto decoded = m_decoder.decode(*bytes);
    if (!decoded.empty()) {
        m_text = std::move(decoded);
        txtView->setText(*m_text);
    }
    m_handle->readInBackgroundAndNotify();
}

void DownloadedTorrents::devideString()
{
    if (!m_text)
        return;
    auto fields = cutStatusLine(*m_text);
    if (!fields)
        return;
    prog->setText(fields->prog);
    dnLabel->setText(fields->down);
    upLabel->setText(fields->up);
}

void DownloadedTorrents::Stoppressed()
{
    if (!m_shellProcess || !m_shellProcess->isRunning())
        return;
    m_shellProcess->terminate(); // also wakes a paused child, so it can end
    status->setText("Stopped");
}

void DownloadedTorrents::Pausepressed()
{
    if (!m_shellProcess || !m_shellProcess->isRunning())
        return;
    m_shellProcess->suspend();
    status->setText("Paused");
}

void DownloadedTorrents::Resumepressed()
{
    if (!m_shellProcess || !m_shellProcess->isRunning())
        return;
    m_shellProcess->resume();
    status->setText(downloadingText);
}

void DownloadedTorrents::goQueue()
{
    auto options = std::make_shared<TipsViewController>();
    m_optionsViewController = options;
    presentModalViewController(options, true);
}
