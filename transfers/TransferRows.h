#pragma once
// The Transfer tab's list of transfers (from two on): one row each (name,
// percentage, bar, state and rates, and a "›" to its details), the front
// one marked. The rows are a table that keeps every row's cell: it scrolls
// by drag, wheel and keys like any list, and a screen reader finds every
// transfer, in sight or not. A tap on a row brings its transfer to the front.
//
// The rows are made anew when the transfers listed change (which, in what
// order); each tick only changes their words. The list and the tab's
// callbacks are the tab's; the rows refer to transfers weakly.
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/ProgressView.h"
#include "kit/ui/TableView.h"

#include <functional>
#include <memory>
#include <vector>

class TransferFeed;
struct TransferSnapshot;

// One row: its words are its name to a screen reader, and it is selected
// while its transfer is in front (without the table's blue: it reads in the tab's own).
class TransferRowCell : public kit::TableViewCell {
public:
    static constexpr const char* identifier = "TransferRow";
    TransferRowCell();
    std::string accessibilityName() const override;
    kit::AccessibilityState accessibilityState() const override;

    void setFront(bool front);
    bool isFront() const { return m_front; }

    uint64_t transfer { 0 };
    kit::Label* name { nullptr };
    kit::Label* percent { nullptr };
    kit::ProgressView* bar { nullptr };
    kit::Label* state { nullptr };
    kit::Button* details { nullptr };

private:
    bool m_front { false };
};

class TransferRows : public kit::TableViewDataSource, public kit::TableViewDelegate, public std::enable_shared_from_this<TransferRows> {
public:
    static constexpr float rowHeight = 36;

    // `showDetails` opens a transfer's details; `frontCleared` says that the
    // tab shows no front transfer just now (a question about a new one).
    TransferRows(std::shared_ptr<TransferFeed> feed, std::function<void(uint64_t)> showDetails,
        std::function<bool()> frontCleared);

    // The table the rows are shown in, made once with this as its source.
    std::shared_ptr<kit::TableView> makeTable(kit::Rect frame);
    // Makes the rows anew when the transfers listed changed, else their words.
    void refresh(kit::TableView& table);

    int tableViewNumberOfRowsInSection(kit::TableView& table, int section) override;
    std::shared_ptr<kit::TableViewCell> tableViewCellForRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath) override;
    float tableViewHeightForRowAtIndexPath(kit::TableView&, kit::IndexPath) override { return rowHeight; }
    void tableViewDidSelectRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath) override;

private:
    void fill(TransferRowCell& cell, const TransferSnapshot& transfer) const;
    void showWords(TransferRowCell& cell) const;

    std::shared_ptr<TransferFeed> m_feed;
    std::function<void(uint64_t)> m_showDetails;
    std::function<bool()> m_frontCleared;
    // The transfers the rows were made for, in order.
    std::vector<uint64_t> m_listed;
    // The front one the list last showed.
    uint64_t m_shownFront { 0 };
};
