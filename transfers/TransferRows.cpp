#include "transfers/TransferRows.h"

#include "kit/gfx/Fonts.h"
#include "transfers/TransferFeed.h"

#include <utility>

namespace {
const kit::Color labelTextColor = kit::Color::rgba(76 / 255.0f, 86 / 255.0f, 108 / 255.0f, 1.0f);
const kit::Color frontRowColor = kit::Color::rgba(0.85f, 0.9f, 1.0f, 1.0f);
const kit::Color frontRowTextColor = kit::Color::rgba(0.196f, 0.310f, 0.522f, 1.0f);
} // namespace

TransferRowCell::TransferRowCell()
    : kit::TableViewCell(kit::Rect { 0, 0, 300, TransferRows::rowHeight }, identifier)
{
    const float width = frame().width(), height = frame().height();
    auto addLabel = [&](kit::Rect frame, kit::AutoresizingMask mask, kit::TextAlignment align = kit::TextAlignment::Left) {
        auto l = kit::View::create<kit::Label>(frame);
        l->setFont(kit::Font::systemFont(12));
        l->setTextAlignment(align);
        l->setAutoresizingMask(mask);
        l->setUserInteractionEnabled(false);
        addSubview(l);
        return l.get();
    };
    const auto W = kit::ViewAutoresizingFlexibleWidth, L = kit::ViewAutoresizingFlexibleLeftMargin;
    name = addLabel({ 6, 2, width - 102, 16 }, W);
    percent = addLabel({ width - 94, 2, 52, 16 }, L, kit::TextAlignment::Right);
    auto progress = kit::View::create<kit::ProgressView>(kit::Rect { 6, 23, 60, 6 });
    progress->setUserInteractionEnabled(false);
    bar = progress.get();
    addSubview(progress);
    state = addLabel({ 72, 19, width - 114, 14 }, W);
    state->setFont(kit::Font::systemFont(11));
    // Its details, a finger wide at the row's end (a button of its own: a tap there is no tap on the row).
    auto more = kit::Button::create({ width - 36, 2, 34, height - 6 }, "\u203a", {});
    more->setAutoresizingMask(L);
    details = more.get();
    addSubview(more);
}

std::string TransferRowCell::accessibilityName() const
{
    // The words it shows, the rates as they are said.
    std::string words = name->text();
    for (const auto* label : { percent, state }) {
        auto said = label->accessibilityLabel().empty() ? label->text() : label->accessibilityLabel();
        if (!said.empty())
            words += (words.empty() ? "" : ", ") + said;
    }
    return labelOr(words);
}

kit::AccessibilityState TransferRowCell::accessibilityState() const
{
    auto s = kit::TableViewCell::accessibilityState();
    s.selected = m_front;
    return s;
}

void TransferRowCell::setFront(bool front)
{
    if (m_front == front)
        return;
    m_front = front;
    changed(kit::ViewProperty::Content);
}

TransferRows::TransferRows(std::shared_ptr<TransferFeed> feed, std::function<void(uint64_t)> showDetails,
    std::function<bool()> frontCleared)
    : m_feed(std::move(feed))
    , m_showDetails(std::move(showDetails))
    , m_frontCleared(std::move(frontCleared))
{
}

std::shared_ptr<kit::TableView> TransferRows::makeTable(kit::Rect frame)
{
    auto table = kit::View::create<kit::TableView>(frame);
    table->setRowHeight(rowHeight);
    table->setClipsToBounds(true);
    table->setBackgroundColor(kit::Color::white());
    table->setAccessibilityLabel("Transfers");
    table->setKeepsEveryRow(true);
    // The tab holds this source as long as its table; the table's links are weak.
    auto self = shared_from_this();
    table->setDataSource(self);
    table->setDelegate(self);
    return table;
}

void TransferRows::refresh(kit::TableView& table)
{
    auto& all = m_feed->transfers();
    bool same = m_listed.size() == all.size() && int(all.size()) == table.numberOfRows();
    for (size_t i = 0; same && i < all.size(); ++i)
        same = m_listed[i] == all[i].id;
    if (!same) {
        m_listed.clear();
        for (auto& t : all)
            m_listed.push_back(t.id);
        table.reloadData();
    }
    for (auto& cell : table.visibleCells())
        if (auto* row = dynamic_cast<TransferRowCell*>(cell.get()))
            showWords(*row);
    // A new front one (asked for again, or new) comes into sight; a person
    // scrolling the list is left where they are meanwhile.
    auto* front = m_feed->front();
    const uint64_t frontId = front ? front->id : 0;
    if (frontId != std::exchange(m_shownFront, frontId) && front)
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].id == frontId)
                table.scrollToRowAtIndexPath({ 0, int(i) });
}

int TransferRows::tableViewNumberOfRowsInSection(kit::TableView&, int)
{
    return int(m_feed->transfers().size());
}

std::shared_ptr<kit::TableViewCell> TransferRows::tableViewCellForRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath)
{
    auto& all = m_feed->transfers();
    if (indexPath.row < 0 || size_t(indexPath.row) >= all.size())
        return nullptr;
    auto cell = std::dynamic_pointer_cast<TransferRowCell>(table.dequeueReusableCellWithIdentifier(TransferRowCell::identifier));
    if (!cell)
        cell = kit::View::create<TransferRowCell>();
    fill(*cell, all[size_t(indexPath.row)]);
    return cell;
}

void TransferRows::fill(TransferRowCell& cell, const TransferSnapshot& transfer) const
{
    cell.transfer = transfer.id;
    auto show = m_showDetails;
    cell.details->setAction([id = transfer.id, show] {
        if (show)
            show(id);
    });
    cell.details->setAccessibilityLabel("Details of " + transfer.name);
    showWords(cell);
}

void TransferRows::showWords(TransferRowCell& cell) const
{
    auto* transfer = m_feed->find(cell.transfer);
    if (!transfer)
        return;
    auto* front = m_feed->front();
    const bool isFront = front && front->id == transfer->id && !(m_frontCleared && m_frontCleared());
    // The one in front reads in the tab's blue, the others plain; a tap's own mark goes.
    cell.setSelected(false);
    cell.setFront(isFront);
    cell.setBackgroundColor(isFront ? frontRowColor : kit::Color::white());
    for (auto* label : { cell.name, cell.percent, cell.state })
        label->setTextColor(isFront ? frontRowTextColor : labelTextColor);
    cell.name->setFont(isFront ? kit::Font::boldSystemFont(12) : kit::Font::systemFont(12));
    cell.name->setText(transfer->name);
    cell.percent->setText(transfer->percentText);
    cell.bar->setProgress(float(transfer->fraction));
    const auto& rates = transfer->ratesText;
    cell.state->setText(transfer->stateText + (rates.empty() ? "" : "   " + rates));
    const auto& spoken = transfer->spokenRatesText;
    cell.state->setAccessibilityLabel(spoken.empty() ? "" : transfer->stateText + ", " + spoken);
}

void TransferRows::tableViewDidSelectRowAtIndexPath(kit::TableView&, kit::IndexPath indexPath)
{
    auto& all = m_feed->transfers();
    if (indexPath.row < 0 || size_t(indexPath.row) >= all.size())
        return;
    m_feed->bringToFront(all[size_t(indexPath.row)].id);
}
