#include "transfers/TransferDetailsViewController.h"

#include "kit/core/Log.h"
#include "kit/core/WeakBind.h"
#include "kit/ui/LaidOutView.h"
#include "transfers/TransferFeed.h"
#include "transfers/TransferOptions.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {
const kit::Color noteColor = kit::Color::rgba(0.25f, 0.27f, 0.31f);
const kit::Color problemColor = kit::Color::rgba(0.75f, 0.1f, 0.1f);
constexpr float rowHeight = 30;
constexpr const char* appliedText = "Applied at once to the running transfer.";
// Without a client to take them, choices wait for the next start.
constexpr const char* keptText = "Kept: applied when the transfer starts again.";
constexpr const char* nextStartText = "Applied from the next start: the client has no control channel.";

std::string percentOf(long long part, long long whole)
{
    if (whole <= 0)
        return "not known";
    return std::to_string(int(std::floor(100.0 * double(std::min(part, whole)) / double(whole)))) + " %";
}


std::string limitText(const std::optional<long long>& bytes)
{
    return bytes ? std::to_string(*bytes / 1024) : std::string();
}
} // namespace

TransferDetailsViewController::TransferDetailsViewController(std::weak_ptr<TransferFeed> feed, uint64_t transfer)
    : m_feed(std::move(feed))
    , m_transfer(transfer)
{
}

const TransferSnapshot* TransferDetailsViewController::transfer() const
{
    auto feed = m_feed.lock();
    return feed ? feed->find(m_transfer) : nullptr;
}

std::optional<TransferDetailsViewController::SeedGoal> TransferDetailsViewController::parseSeedGoal(std::string_view text)
{
    SeedGoal goal;
    if (!text.empty() && (text.back() == 'x' || text.back() == 'X')) {
        text.remove_suffix(1);
        double ratio = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ratio);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(ratio > 0) || ratio > 1000)
            return std::nullopt;
        goal.ratio = ratio;
        return goal;
    }
    int hours = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), hours);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || hours < 0 || hours > 10000)
        return std::nullopt;
    goal.hours = hours;
    return goal;
}

void TransferDetailsViewController::loadView()
{
    const auto W = kit::ViewAutoresizingFlexibleWidth, L = kit::ViewAutoresizingFlexibleLeftMargin,
               R = kit::ViewAutoresizingFlexibleRightMargin, T = kit::ViewAutoresizingFlexibleTopMargin;
    auto root = kit::View::create<kit::LaidOutView>(kit::Rect { 0, 0, 320, 460 });
    root->setBackgroundColor(kit::Color::groupTableViewBackground());
    root->onLayout = [this] { arrange(); };
    auto label = [&](kit::Rect frame, kit::Font font, kit::AutoresizingMask mask) {
        auto l = kit::View::create<kit::Label>(frame);
        l->setFont(font);
        l->setAutoresizingMask(mask);
        root->addSubview(l);
        return l.get();
    };
    titleLabel = label({ 20, 10, 280, 24 }, kit::Font::boldSystemFont(17), W);
    summaryLabel = label({ 20, 36, 280, 32 }, kit::Font::systemFont(12), W);
    summaryLabel->setNumberOfLines(2);
    summaryLabel->setLineBreakMode(kit::LineBreakMode::WordWrap);

    auto field = [&](float y, const char* caption, const char* placeholder) {
        auto* l = label({ 20, y, 170, 31 }, kit::Font::systemFont(15), W | R);
        l->setText(caption);
        m_captions.push_back(l);
        auto f = kit::View::create<kit::TextField>(kit::Rect { 190, y, 110, 31 });
        f->setBackgroundColor(kit::Color::white());
        f->setPlaceholder(placeholder);
        f->setAccessibilityLabel(caption);
        f->setDelegate(kit::weakAs<kit::TextFieldDelegate>(*this));
        f->setAutoresizingMask(L | W);
        root->addSubview(f);
        return f.get();
    };
    // Their captions name the fields for a screen reader too. Made last to
    // first, so that the download limit is the screen's front field.
    seedTextField = field(140, "Seed for (hours, or 2x)", "hours");
    upLimitTextField = field(106, "Its upload limit (KB/s)", "KB/s up");
    downLimitTextField = field(72, "Its download limit (KB/s)", "KB/s down");
    float y = 174;
    noteLabel = label({ 20, y, 280, 16 }, kit::Font::systemFont(11), W);
    noteLabel->setTextColor(noteColor);
    noteLabel->setText(appliedText);
    y += 18;

    auto list = kit::View::create<kit::TableView>(kit::Rect { 10, y, 300, 372 - y });
    list->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    list->setRowHeight(rowHeight);
    list->setBackgroundColor(kit::Color::white());
    list->setDataSource(kit::weakAs<kit::TableViewDataSource>(*this));
    list->setDelegate(kit::weakAs<kit::TableViewDelegate>(*this));
    list->setAccessibilityLabel("Details");
    table = list.get();
    root->addSubview(list);

    auto remove = kit::Button::create(kit::Rect { 10, 380, 150, 37 }, "Remove from list", [this] { removeFromList(); });
    remove->setAutoresizingMask(T | R | W);
    removeButton = remove.get();
    root->addSubview(remove);
    auto done = kit::Button::create(kit::Rect { 170, 380, 140, 37 }, "Done", [this] { dismissAction(); });
    done->setAutoresizingMask(T | L | W);
    doneButton = done.get();
    root->addSubview(done);
    setView(root);

    // A copy: setting a field's text may make the owner's list anew.
    if (auto* shown = this->transfer()) {
        const TransferSnapshot copy = *shown;
        const auto* transfer = &copy;
        downLimitTextField->setText(limitText(transfer->ownDownloadLimit));
        upLimitTextField->setText(limitText(transfer->ownUploadLimit));
        if (transfer->seedHours)
            seedTextField->setText(std::to_string(*transfer->seedHours));
        else if (transfer->seedRatio) {
            // By hand: the C library's number formatting follows the locale.
            const long long hundredths = std::llround(*transfer->seedRatio * 100);
            seedTextField->setText(std::to_string(hundredths / 100) + "." + (hundredths % 100 < 10 ? "0" : "") + std::to_string(hundredths % 100) + "x");
        }
    }
    refresh();
}

void TransferDetailsViewController::arrange()
{
    if (!table)
        return;
    const auto size = view().bounds().size;
    const float w = size.width, h = size.height;
    // Turned (wide and low): the fields on the left, the list on the right,
    // so that the list keeps the height; upright: one column, as designed.
    const bool turned = w >= 560 && h < 440;
    const float column = turned ? (w - 30) / 2 : w - 20;
    auto place = [&](float x, float y, float width, float height) { return kit::Rect { x, y, std::max(0.0f, width), std::max(0.0f, height) }; };
    titleLabel->setFrame(place(20, 10, column - 20, 24));
    summaryLabel->setFrame(place(20, 36, column - 20, 32));
    // In the order they were made: the seeding goal lowest, the download limit on top.
    kit::TextField* fields[] = { seedTextField, upLimitTextField, downLimitTextField };
    for (size_t i = 0; i < 3 && i < m_captions.size(); ++i) {
        const float y = 140 - 34 * float(i);
        const float fieldWidth = std::min(std::max(110.0f, column * 0.35f), 200.0f);
        m_captions[i]->setFrame(place(20, y, column - fieldWidth - 20, 31));
        fields[i]->setFrame(place(10 + column - fieldWidth, y, fieldWidth, 31));
    }
    noteLabel->setFrame(place(20, 174, column - 20, 16));
    const float buttonY = h - 80;
    if (turned) {
        table->setFrame(place(20 + column, 10, column, h - 20));
        removeButton->setFrame(place(10, buttonY, (column - 10) / 2, 37));
        doneButton->setFrame(place(20 + (column - 10) / 2, buttonY, (column - 10) / 2, 37));
    } else {
        table->setFrame(place(10, 192, column, buttonY - 8 - 192));
        removeButton->setFrame(place(10, buttonY, (w - 30) / 2, 37));
        doneButton->setFrame(place(20 + (w - 30) / 2, buttonY, (w - 30) / 2, 37));
    }
}

void TransferDetailsViewController::viewDidAppear(bool)
{
    if (auto feed = m_feed.lock())
        feed->setDetailsShown(m_transfer, true);
    m_refresh = kit::Timer::scheduled(1.0, true, [weak = kit::weakAs<TransferDetailsViewController>(*this)](kit::Timer&) {
        if (auto self = weak.lock())
            self->refresh();
    });
}

void TransferDetailsViewController::viewDidDisappear(bool)
{
    if (auto feed = m_feed.lock())
        feed->setDetailsShown(m_transfer, false);
    if (m_refresh)
        m_refresh->invalidate();
    m_refresh.reset();
}

size_t TransferDetailsViewController::rowCount(int section) const
{
    if (section < 0 || section >= SectionCount)
        return 0;
    return m_rows[section].size() + (section == FilesSection ? m_fileRows : 0);
}

std::string TransferDetailsViewController::rowText(int section, size_t row) const
{
    if (section < 0 || section >= SectionCount)
        return {};
    if (row < m_rows[section].size())
        return m_rows[section][row];
    if (section != FilesSection)
        return {};
    auto* transfer = this->transfer();
    const size_t index = row - m_rows[section].size();
    if (!transfer || !transfer->files || index >= transfer->files->size())
        return {};
    const auto& f = (*transfer->files)[index];
    const bool fetched = transfer->isFetched(f);
    return std::string(fetched ? "Fetch: " : "Skip: ") + f.name + ", " + TransferProgress::sizeText(f.size) + ", " + percentOf(f.have, f.pieces);
}

std::vector<std::string> TransferDetailsViewController::rowTexts(int section) const
{
    std::vector<std::string> texts;
    for (size_t row = 0, count = rowCount(section); row < count; ++row)
        texts.push_back(rowText(section, row));
    return texts;
}

void TransferDetailsViewController::refresh()
{
    auto* transfer = this->transfer();
    if (!titleLabel)
        return;
    for (auto& rows : m_rows)
        rows.clear();
    m_fileRows = 0;
    if (!transfer) {
        titleLabel->setText("");
        summaryLabel->setText("This transfer is no longer in the list.");
        table->reloadData();
        return;
    }
    titleLabel->setText(transfer->name);
    const auto& percent = transfer->percentText;
    summaryLabel->setText(transfer->stateText + (percent.empty() ? "" : ", " + percent)
        + (transfer->ratesText.empty() ? "" : "   " + transfer->ratesText));
    summaryLabel->setAccessibilityLabel(transfer->spokenRatesText.empty()
            ? ""
            : transfer->stateText + (percent.empty() ? "" : ", " + percent) + ", " + transfer->spokenRatesText);
    removeButton->setEnabled(!transfer->hasClient && !transfer->queued);

    auto& swarm = m_rows[SwarmSection];
    auto& files = m_rows[FilesSection];
    auto& peers = m_rows[PeersSection];
    files.push_back("Files: tap one to fetch or skip it");
    peers.push_back("Peers");
    const bool channel = transfer->hasChannel;
    // What the channel told stays, but once the client has gone it is only what was last known.
    const bool live = channel && transfer->channelConnected && transfer->hasClient;
    if (!live) {
        files.front() = transfer->files ? "Files, as last known: tap to choose" : "Files";
        peers.front() = "Peers";
    }
    // What the client itself says its limits are: the proof that a limit took.
    if (!m_problemShown) {
        noteLabel->setTextColor(noteColor);
        if (!transfer->hasClient)
            noteLabel->setText(keptText);
        else if (!channel || !transfer->channelConnected)
            noteLabel->setText(nextStartText);
        else if (const auto& status = transfer->clientStatus)
            noteLabel->setText("Applied at once. Limits: " + (status->downLimit ? TransferProgress::sizeText(status->downLimit) + "/s" : std::string("none"))
                + " down, " + (status->upLimit ? TransferProgress::sizeText(status->upLimit) + "/s" : std::string("none")) + " up");
        else
            noteLabel->setText(appliedText);
    }
    if (channel && transfer->clientStatus) {
        const auto& s = *transfer->clientStatus;
        if (!live)
            swarm.push_back("Last known, while its client ran:");
        swarm.push_back("Seeders: " + std::to_string(s.seeders) + " connected, " + std::to_string(s.trackerSeeders) + " known to the tracker");
        swarm.push_back("Leechers: " + std::to_string(s.leechers) + " connected, " + std::to_string(s.trackerLeechers) + " known to the tracker");
        swarm.push_back("Pieces: " + std::to_string(s.piecesHave) + " of " + std::to_string(s.piecesTotal) + "; the swarm has "
            + percentOf(s.piecesAvailable, s.piecesTotal) + " of the torrent");
        swarm.push_back("This session: " + TransferProgress::sizeText(s.downTotal) + " down, " + TransferProgress::sizeText(s.upTotal) + " up");
    } else {
        swarm.push_back(!transfer->hasClient ? "Swarm: not known (the transfer has no client)"
                : channel                     ? "Swarm: waiting for the client's first report"
                                              : "Swarm: not known (the client has no control channel)");
    }
    auto& trackers = m_rows[TrackersSection];
    if (transfer->trackers.empty() && transfer->peerSources) {
        // A trackerless magnet's: its peers come from the DHT and the link (the count below).
        swarm.push_back("Trackers: none (its magnet link named none)");
    } else if (transfer->trackers.empty()) {
        // Its client announces to the torrent's own tracker and says what came of it.
        swarm.push_back("Tracker: " + (transfer->note.empty() ? std::string("no word from it") : transfer->note));
    } else {
        trackers.push_back("Trackers");
        for (auto& tracker : transfer->trackers)
            trackers.push_back(tracker.host + ": " + tracker.answer
                + (!transfer->hasClient || tracker.next.empty() ? "" : "; asked again " + tracker.next));
    }
    if (const auto& found = transfer->peerSources)
        swarm.push_back("Peers found: trackers " + std::to_string(found->trackers) + ", DHT " + std::to_string(found->dht)
            + ", magnet " + std::to_string(found->magnet));
    // The files' rows are made as the table asks for them, from the client's
    // list: a torrent of many files is not held a second time as texts.
    m_fileRows = transfer->files ? transfer->files->size() : 0;
    if (!transfer->files)
        files.push_back("Not known yet");
    if (!live && transfer->hasClient) {
        peers.push_back("Not known");
    } else if (!live) {
        peers.push_back("None: the transfer has no client");
    } else if (!transfer->peers.empty()) {
        for (auto& p : transfer->peers)
            peers.push_back(p.address + ": \u2193 " + TransferProgress::rateText(p.downRate / 1024) + " \u2191 "
                + TransferProgress::rateText(p.upRate / 1024) + ", " + p.relationText());
    } else {
        peers.push_back(channel ? "No peer connected" : "Not known");
    }
    table->reloadData();
}

int TransferDetailsViewController::tableViewNumberOfRowsInSection(kit::TableView&, int section)
{
    return int(rowCount(section));
}

std::shared_ptr<kit::TableViewCell> TransferDetailsViewController::tableViewCellForRowAtIndexPath(kit::TableView& tableView, kit::IndexPath indexPath)
{
    auto cell = tableView.dequeueReusableCellWithIdentifier("detail");
    if (!cell)
        cell = kit::TableViewCell::create({ 0, 0, tableView.bounds().size.width, rowHeight }, "detail");
    const bool heading = indexPath.row == 0 && indexPath.section != SwarmSection;
    cell->setFont(heading ? kit::Font::boldSystemFont(13) : kit::Font::systemFont(13));
    cell->setText(indexPath.row >= 0 ? rowText(indexPath.section, size_t(indexPath.row)) : "");
    return cell;
}

void TransferDetailsViewController::tableViewDidSelectRowAtIndexPath(kit::TableView&, kit::IndexPath indexPath)
{
    auto* transfer = this->transfer();
    auto feed = m_feed.lock();
    if (!transfer || !feed || indexPath.section != FilesSection || indexPath.row == 0)
        return;
    // Chosen without a client, the files are kept for its next start.
    if (!transfer->files)
        return;
    const auto files = transfer->files;
    const auto& all = *files;
    const size_t index = size_t(indexPath.row - 1);
    if (index >= all.size())
        return;
    std::set<int> chosen;
    if (transfer->chosenFiles)
        chosen = *transfer->chosenFiles;
    else
        for (auto& f : all)
            if (f.isFetched())
                chosen.insert(f.number);
    const int number = all[index].number;
    if (chosen.count(number)) {
        if (chosen.size() == 1) {
            m_problemShown = true;
            noteLabel->setTextColor(problemColor);
            noteLabel->setText("At least one file is fetched; stop the transfer to fetch none.");
            return;
        }
        chosen.erase(number);
    } else {
        chosen.insert(number);
    }
    kit::log(transfer->name + ": " + all[index].name + (chosen.count(number) ? " is fetched" : " is skipped"));
    feed->chooseFiles(m_transfer, std::move(chosen));
    m_problemShown = false;
    refresh();
}

void TransferDetailsViewController::textFieldDidChange(kit::TextField& field)
{
    auto* transfer = this->transfer();
    auto feed = m_feed.lock();
    if (!transfer || !feed)
        return;
    TransferChoices choices { transfer->ownDownloadLimit, transfer->ownUploadLimit, transfer->seedHours, transfer->seedRatio };
    auto problem = [&](const std::string& words) {
        m_problemShown = true;
        noteLabel->setTextColor(problemColor);
        noteLabel->setText(words);
    };
    if (&field == downLimitTextField || &field == upLimitTextField) {
        const bool down = &field == downLimitTextField;
        if (auto why = limitProblem(field.text()); !why.empty())
            return problem(std::string(down ? "Download" : "Upload") + " limit not set: " + why);
        auto value = parseLimit(field.text());
        auto& own = down ? choices.ownDownloadLimit : choices.ownUploadLimit;
        own = value ? std::optional<long long>(*value * 1024) : std::nullopt;
    } else if (&field == seedTextField) {
        if (field.text().empty())
            return;
        auto goal = parseSeedGoal(field.text());
        if (!goal)
            return problem("Seeding goal not set: whole hours (72) or a ratio (1.5x)");
        choices.seedHours = goal->hours >= 0 ? std::optional<int>(goal->hours) : std::nullopt;
        choices.seedRatio = goal->hours >= 0 ? std::nullopt : std::optional<double>(goal->ratio);
    }
    m_problemShown = false;
    // The owner applies them at once where it can and keeps them.
    feed->setChoices(m_transfer, choices);
    refresh();
}

bool TransferDetailsViewController::textFieldShouldReturn(kit::TextField& field)
{
    field.resignFirstResponder();
    return true;
}

void TransferDetailsViewController::removeFromList()
{
    auto* transfer = this->transfer();
    if (!transfer)
        return;
    auto alert = kit::AlertView::create("Remove " + transfer->name + "?",
        "It leaves the list of transfers; its files stay in the downloads folder.",
        kit::weakAs<kit::AlertViewDelegate>(*this), "Cancel", { "Remove" });
    alert->show();
}

void TransferDetailsViewController::alertViewClickedButtonAtIndex(kit::AlertView&, int index)
{
    if (index != 1)
        return;
    auto feed = m_feed.lock();
    if (!transfer() || !feed)
        return;
    feed->remove(m_transfer, [weak = kit::weakAs<TransferDetailsViewController>(*this)](kit::ErrorOr<void> removed) {
        auto self = weak.lock();
        if (!self)
            return;
        if (!removed) {
            self->m_problemShown = true;
            self->noteLabel->setTextColor(problemColor);
            self->noteLabel->setText(removed.error().message);
            return;
        }
        self->dismissAction();
    });
}

void TransferDetailsViewController::dismissAction()
{
    dismissModalViewControllerAnimated(true);
}
