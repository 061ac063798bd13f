#include "files/TorrentFiles.h"

#include "files/FileActions.h"
#include "kit/ui/Application.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/FileManager.h"
#include "kit/core/Log.h"
#include "kit/core/PathString.h"
#include "kit/ui/TabBarController.h"
#include "kit/net/URLEscape.h"
#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "torrent/TorrentCheck.h"

#include <algorithm>
#include <filesystem>
#include <utility>

TorrentFiles::~TorrentFiles()
{
    if (autoslider)
        autoslider->invalidate();
    if (m_arrivalTick)
        m_arrivalTick->invalidate();
    if (adlarkAd)
        adlarkAd->hostWillGo();
}

void TorrentFiles::loadView()
{
    // The folder's path on top, the list below it.
    auto root = kit::View::create(kit::Rect { 0, 0, 320, 411 });
    root->setBackgroundColor(kit::Color::white());
    auto promptLabel = kit::View::create<kit::Label>(kit::Rect { 0, 0, 320, 30 });
    promptLabel->setFont(kit::Font::systemFont(13));
    promptLabel->setTextAlignment(kit::TextAlignment::Center);
    promptLabel->setLineBreakMode(kit::LineBreakMode::HeadTruncation);
    promptLabel->setBackgroundColor(kit::Color::rgba(0.427f, 0.518f, 0.635f));
    promptLabel->setTextColor(kit::Color::white());
    m_promptLabel = promptLabel.get();
    promptLabel->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(promptLabel);
    auto table = kit::View::create<kit::TableView>(kit::Rect { 0, 30, 320, 381 });
    table->setDataSource(kit::weakAs<kit::TableViewDataSource>(*this));
    table->setDelegate(kit::weakAs<kit::TableViewDelegate>(*this));
    table->setAccessibilityLabel("Files");
    tableView = table.get();
    table->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    root->addSubview(table);
    setView(root);
}

void TorrentFiles::viewDidLoad()
{
    kit::ViewController::viewDidLoad();
    // No folder yet: the list holds only "...".
    updateArray();
    // The ad banner: put on screen when its first ad arrives. The first ad
    // may fail while the request starts, before the view is ours to keep.
    auto self = std::shared_ptr<AdlarkDelegate>(shared_from_this(), static_cast<AdlarkDelegate*>(this));
    auto banner = AdlarkView::requestAdWithDelegate(self);
    if (!m_adlarkFailed)
        adlarkAd = banner;
    currentDir = kit::DeviceLayout::current().downloadsFolder();
}

void TorrentFiles::viewDidAppear(bool)
{
    updateArray();
    updateBannerInset();
    startArrivalTick();
}

void TorrentFiles::viewDidDisappear(bool)
{
    if (m_arrivalTick)
        m_arrivalTick->invalidate();
    m_arrivalTick.reset();
}

void TorrentFiles::setArrivalSource(ArrivalSource source)
{
    m_arrivalSource = std::move(source);
    refreshArrivals();
    if (m_arrivalSource && isViewLoaded() && view().window())
        startArrivalTick();
}

void TorrentFiles::startArrivalTick()
{
    // One tick for the whole list, only while it can be seen.
    if (!m_arrivalSource || (m_arrivalTick && m_arrivalTick->isValid()))
        return;
    std::weak_ptr<kit::ViewController> weak = weak_from_this();
    m_arrivalTick = kit::Timer::scheduled(arrivalRefreshInterval, true, [weak](kit::Timer&) {
        if (auto self = std::static_pointer_cast<TorrentFiles>(weak.lock()))
            self->refreshArrivals();
    });
}

void TorrentFiles::refreshArrivals()
{
    // Nothing started, ended or moved on: nothing to look up or draw.
    if (m_arrivalSource) {
        if (!m_arrivals.update(m_arrivalSource(), kit::DeviceLayout::current().transferWorkingFolder()) && m_shownMarks.size() == fileMutableArray.size())
            return;
    } else {
        m_arrivals = {};
    }
    auto marks = rowMarks();
    if (marks == m_shownMarks)
        return;
    auto old = std::exchange(m_shownMarks, std::move(marks));
    if (!tableView)
        return;
    // Only the rows in view whose mark changed are redrawn: the list keeps
    // its place and a glide goes on. Rows out of view take theirs when shown.
    for (size_t row = 0; row < m_shownMarks.size(); ++row)
        if (row >= old.size() || old[row] != m_shownMarks[row])
            if (auto* cell = tableView->cellForRowAtIndexPath({ 0, int(row) }))
                cell->setText(rowText(row));
}

std::vector<std::string> TorrentFiles::rowMarks() const
{
    std::vector<std::string> marks(fileMutableArray.size());
    if (m_arrivals.empty())
        return marks;
    auto found = m_arrivals.marksFor(currentDir, fileArray);
    for (size_t row = 1; row < marks.size() && row - 1 < found.size(); ++row)
        if (found[row - 1])
            marks[row] = files::markText(*found[row - 1]);
    return marks;
}

std::string TorrentFiles::rowText(size_t row) const
{
    if (row >= fileMutableArray.size())
        return {};
    auto text = files::shownName(fileMutableArray[row]);
    if (row < m_shownMarks.size() && !m_shownMarks[row].empty())
        text += "  \u2014  " + m_shownMarks[row];
    return text;
}

bool TorrentFiles::refuseInUse(const std::string& path, const std::string& title)
{
    if (!m_arrivalSource)
        return false;
    m_arrivals.update(m_arrivalSource(), kit::DeviceLayout::current().transferWorkingFolder());
    auto mark = m_arrivals.markFor(path);
    if (!mark)
        return false;
    auto name = std::filesystem::path(path).filename().string();
    kit::log(title + ": " + path + " is in use by a running transfer");
    kit::AlertView::create(title, files::inUseMessage(files::shownName(name), *mark), {}, "OK", {})->show();
    return true;
}

void TorrentFiles::setPrompt(const std::string& text)
{
    m_prompt = text;
    if (m_promptLabel)
        m_promptLabel->setText(text);
}

void TorrentFiles::refresh(const std::string& folder, files::ListingMode listingMode, bool setsPrompt)
{
    fileArray = files::filterEntries(kit::FileManager::defaultManager().directoryContentsAtPath(folder), listingMode);
    if (setsPrompt)
        setPrompt(files::devicePathOf(currentDir, kit::DeviceLayout::current().root()));
    fileMutableArray = files::rowsForEntries(fileArray);
    download = listingMode == files::ListingMode::Torrent;
    if (m_arrivalSource)
        m_arrivals.update(m_arrivalSource(), kit::DeviceLayout::current().transferWorkingFolder());
    m_shownMarks = rowMarks();
    if (tableView)
        tableView->reloadData();
}

void TorrentFiles::updateArray()
{
    refresh(currentDir, files::ListingMode::Torrent, true);
}

void TorrentFiles::updateArrayWithPath(const std::string& folder)
{
    refresh(folder, files::ListingMode::AllEntries, true);
}

void TorrentFiles::updateArrayWithAllFiles()
{
    refresh(currentDir, files::ListingMode::AllEntries, false);
}

void TorrentFiles::refreshInCurrentMode()
{
    if (download)
        updateArray();
    else
        updateArrayWithAllFiles();
}

int TorrentFiles::tableViewNumberOfRowsInSection(kit::TableView&, int)
{
    return int(fileMutableArray.size());
}

std::shared_ptr<kit::TableViewCell> TorrentFiles::tableViewCellForRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath)
{
    auto cell = table.dequeueReusableCellWithIdentifier(cellIdentifier);
    if (!cell)
        cell = kit::TableViewCell::create(kit::Rect {}, cellIdentifier);
    cell->setFont(kit::Font { "Helvetica", 14.0f, false });
    cell->setLineBreakMode(kit::LineBreakMode::WordWrap);
    if (indexPath.row >= 0 && size_t(indexPath.row) < fileMutableArray.size())
        cell->setText(rowText(size_t(indexPath.row)));
    return cell;
}

float TorrentFiles::tableViewHeightForRowAtIndexPath(kit::TableView&, kit::IndexPath indexPath)
{
    return indexPath.section == 0 && indexPath.row == 0 ? parentRowHeight : entryRowHeight;
}

void TorrentFiles::tableViewDidSelectRowAtIndexPath(kit::TableView&, kit::IndexPath indexPath)
{
    if (indexPath.row < 0 || size_t(indexPath.row) >= fileMutableArray.size())
        return;
    auto keep = shared_from_this(); // a refresh below must not outlive us
    const auto& entry = fileMutableArray[size_t(indexPath.row)];
    auto& layout = kit::DeviceLayout::current();
    const auto entryPath = kit::stringByAppendingPathComponent(currentDir, entry);
    // An entry that went away since the list was made (another program moved
    // or deleted it): the list is made again, rather than offering actions on
    // nothing or entering a folder that is not there. A dangling link is
    // still an entry (it can be renamed or deleted).
    std::error_code gone;
    if (indexPath.row > 0 && !std::filesystem::exists(std::filesystem::symlink_status(entryPath, gone))) {
        kit::log("Gone: " + entryPath);
        updateArrayWithPath(currentDir);
        return;
    }
    // A link is an entry of this folder, never entered: it would lead out of
    // the downloads folder, and its actions (rename, delete) act on the link.
    bool isFolder = indexPath.row > 0 && !std::filesystem::is_symlink(std::filesystem::symlink_status(entryPath, gone))
        && kit::FileManager::defaultManager().isDirectoryAtPath(entryPath);
    auto tap = files::decideTap(currentDir, indexPath.row, entry, isFolder, layout.hasRoot() ? layout.root() : "/");
    file = tap.file;
    kit::log("The File: " + file);
    fullPath2 = tap.fullPath;
    kit::log(std::to_string(indexPath.row) + " tapped");
    kit::log("Path: " + fullPath2);
    switch (tap.kind) {
    case files::Tap::Kind::Parent:
    case files::Tap::Kind::Enter:
        currentDir = tap.nextDir;
        updateArrayWithPath(currentDir);
        break;
    case files::Tap::Kind::FileActions:
        showDownloadView(file);
        break;
    }
}

void TorrentFiles::showDownloadView(const std::string& name)
{
    // A .torrent is offered Download wherever it is listed: walked to (the
    // Browse tab's page.torrent in Documents among them), Play would only fail on it.
    m_sheetMode = download || files::isTorrentName(name) ? files::ListingMode::Torrent : files::ListingMode::AllEntries;
    auto sheet = kit::ActionSheet::create(files::shownName(name), kit::weakAs<kit::ActionSheetDelegate>(*this), files::cancelButtonTitle,
        m_sheetMode == files::ListingMode::Torrent ? files::downloadButtonTitle : files::playButtonTitle,
        { files::mailButtonTitle, files::renameButtonTitle, files::deleteButtonTitle });
    actionSheet = sheet;
    sheet->setActionSheetStyle(kit::ActionSheetStyle::Default);
    sheet->showInView(view());
}

void TorrentFiles::actionSheetClickedButtonAtIndex(kit::ActionSheet&, int index)
{
    switch (files::actionForButton(m_sheetMode, index)) {
    case files::FileAction::Download:
        downloadFile();
        break;
    case files::FileAction::Play:
        playFile();
        break;
    case files::FileAction::Mail:
        kit::Application::shared().handOverURL(files::mailURL(m_sheetMode, fullPath2));
        break;
    case files::FileAction::Rename:
        // A file the client is writing would be lost or written again.
        if (!refuseInUse(fullPath2, files::inUseRenameTitle))
            askForNewName();
        break;
    case files::FileAction::Delete:
        if (refuseInUse(fullPath2, files::inUseDeleteTitle))
            break;
        kit::FileManager::defaultManager().removeItemAtPath(fullPath2);
        refreshInCurrentMode();
        break;
    case files::FileAction::Nothing:
        break;
    }
}

void TorrentFiles::downloadFile()
{
    // The check every way to the client goes through: a pipe, a device, a
    // huge file or a torrent of too many files never reaches the transfer tab.
    if (auto refused = torrent::refusalForFile(fullPath2)) {
        std::string why = refused->message;
        std::replace(why.begin(), why.end(), '\n', ' ');
        kit::log("Download refused: " + why);
        kit::AlertView::create(refused->title, refused->message, {}, "OK", {})->show();
        return;
    }
    auto& defaults = kit::UserDefaults::standard();
    for (auto& [key, value] : files::downloadSettings(fullPath2, file))
        defaults.setObject(value, key);
    adlarkBOOL = false;
    if (auto* delegate = kit::Application::shared().delegate(); delegate && delegate->tabBarController)
        delegate->tabBarController->setSelectedIndex(transferTabIndex);
}

void TorrentFiles::playFile()
{
    endPlayback(); // one player at a time: a new Play replaces one still open
    auto player = kit::MoviePlayerController::create(kit::fileURLWithPath(fullPath2));
    player->setScalingMode(kit::MovieScalingMode::AspectFill);
    m_moviePlayer = player;
    m_movieFinished = kit::NotificationCenter::defaultCenter().addObserver(
        [this](const kit::Notification& n) { movieFinishedCallback(n); },
        kit::MoviePlayerPlaybackDidFinishNotification, player.get());
    player->play();
}

void TorrentFiles::movieFinishedCallback(const kit::Notification& notification)
{
    m_movieFinished.reset();
    if (m_moviePlayer && m_moviePlayer.get() == notification.object)
        m_moviePlayer.reset();
}

void TorrentFiles::endPlayback()
{
    if (!m_moviePlayer)
        return;
    auto player = std::move(m_moviePlayer);
    m_movieFinished.reset();
    player->stop();
}

void TorrentFiles::sendEmail(const std::string& subject, const std::string& message, const std::string& attachment)
{
    kit::Application::shared().handOverURL(files::mailURL(subject, message, attachment));
}

void TorrentFiles::askForNewName()
{
    auto alert = kit::AlertView::create();
    alert->setDelegate(kit::weakAs<kit::AlertViewDelegate>(*this));
    alert->setTitle("Enter new Filename");
    alert->setMessage("\n");
    alert->addButtonWithTitle("Cancel");
    alert->addButtonWithTitle("OK");
    nameField = alert->addEntryField("Filename");
    // The current name, ready to be typed over; Return answers "OK".
    nameField->setText(files::nameForRenaming(mode(), file));
    nameField->setSelection(0, nameField->text().size());
    nameField->setDelegate(kit::weakAs<kit::TextFieldDelegate>(*this));
    m_renameAlert = alert;
    alert->show();
}

bool TorrentFiles::textFieldShouldReturn(kit::TextField& field)
{
    auto alert = m_renameAlert.lock();
    if (&field != nameField.get() || !alert || !alert->isVisible())
        return true;
    alert->dismissWithClickedButtonIndex(1, true);
    return false;
}

void TorrentFiles::refuseName(const std::string& message)
{
    auto alert = kit::AlertView::create(files::refusedNameTitle, message, {}, "OK", {});
    alert->show();
}

void TorrentFiles::alertViewClickedButtonAtIndex(kit::AlertView& alert, int index)
{
    if (index != 1 || !nameField || &alert != m_renameAlert.lock().get())
        return;
    newFileName = nameField->text();
    if (!files::isAcceptableFileName(newFileName))
        return refuseName(files::refusedNameMessage(newFileName));
    auto target = files::renameTarget(mode(), currentDir, fullPath2, newFileName);
    // The transfer may have started while the name was typed; and a file
    // moved onto one the client writes would replace it.
    if (refuseInUse(fullPath2, files::inUseRenameTitle) || (!target.empty() && refuseInUse(target, files::inUseRenameTitle)))
        return refreshInCurrentMode();
    // The move never replaces an entry; a name already taken is said, not lost
    // in silence. The same name again changes nothing.
    std::error_code ec;
    if (!target.empty() && target != fullPath2 && std::filesystem::exists(std::filesystem::symlink_status(target, ec))) {
        refreshInCurrentMode();
        return refuseName(files::existingNameMessage(files::shownName(std::filesystem::path(target).filename().string())));
    }
    // A blank name names no file: nothing moves, the list shows as it was.
    if (!target.empty() && target != fullPath2)
        kit::FileManager::defaultManager().moveItemAtPath(fullPath2, target);
    refreshInCurrentMode();
}

// --- The ad banner's host ---

void TorrentFiles::didReceiveAd(AdlarkView& banner)
{
    kit::log("Adlark: Did receive ad");
    // The banner keeps its size, centred at the bottom of the tab: placed as
    // at the natural size, then moved by its mask to the tab's size in force.
    banner.setFrame(adlarkFrame());
    banner.setAutoresizingMask(kit::ViewAutoresizingFlexibleLeftMargin | kit::ViewAutoresizingFlexibleRightMargin | kit::ViewAutoresizingFlexibleTopMargin);
    view().addSubview(banner.shared_from_this());
    banner.resizeWithOldSuperviewSize({ 320, 411 });
    updateBannerInset();
    // The service reports only its first ad, so this timer is made once.
    if (autoslider)
        autoslider->invalidate();
    std::weak_ptr<kit::ViewController> weak = weak_from_this();
    autoslider = kit::Timer::scheduled(adRefreshInterval, true, [weak](kit::Timer& timer) {
        if (auto self = std::static_pointer_cast<TorrentFiles>(weak.lock()))
            self->refreshAd(timer);
    });
}

float TorrentFiles::bannerInset() const
{
    if (!tableView || !adlarkAd || adlarkAd->superview() != tableView->superview() || adlarkAd->isHidden())
        return 0;
    auto table = tableView->frame();
    auto banner = adlarkAd->frame();
    if (banner.maxX() <= table.x() || banner.x() >= table.maxX() || banner.y() >= table.maxY())
        return 0;
    return table.maxY() - std::max(banner.y(), table.y());
}

void TorrentFiles::updateBannerInset()
{
    if (tableView)
        tableView->setContentInsetBottom(bannerInset());
}

void TorrentFiles::didFailToReceiveAd(AdlarkView&)
{
    kit::log("Adlark: Did fail to receive ad");
    m_adlarkFailed = true;
    adlarkAd.reset(); // no banner and no new attempt for the rest of the tab's life
    updateBannerInset();
}

void TorrentFiles::refreshAd(kit::Timer&)
{
    if (adlarkAd)
        adlarkAd->requestFreshAd();
}
