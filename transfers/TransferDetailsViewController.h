#pragma once
// The details of one transfer, shown over the transfer tab: its state and
// swarm (seeders and leechers connected and known to the tracker, how much
// of the torrent the swarm has), its files (size, share had, fetched or
// skipped: a tap switches a file, at once), its peers (address, rates, who
// chokes whom, in words), the tracker's last words, limits of its own and
// its seeding goal, both applied at once, and a way to remove it from the
// list once it has no client. Refreshed every second while shown; what the
// channel has not told yet reads as not known.
#include "kit/core/Timer.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/TableView.h"
#include "kit/ui/TextField.h"
#include "kit/ui/ViewController.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

class TransferFeed;
struct TransferSnapshot;

class TransferDetailsViewController : public kit::ViewController,
                                      public kit::TableViewDataSource,
                                      public kit::TableViewDelegate,
                                      public kit::TextFieldDelegate,
                                      public kit::AlertViewDelegate {
public:
    // Files first: they are what a person acts on.
    enum Section { FilesSection, SwarmSection, TrackersSection, PeersSection, SectionCount };

    TransferDetailsViewController(std::weak_ptr<TransferFeed> feed, uint64_t transfer);
    std::string className() const override { return "TransferDetailsViewController"; }
    void loadView() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    int numberOfSectionsInTableView(kit::TableView&) override { return SectionCount; }
    int tableViewNumberOfRowsInSection(kit::TableView& table, int section) override;
    std::shared_ptr<kit::TableViewCell> tableViewCellForRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath) override;
    void tableViewDidSelectRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath) override;
    void textFieldDidChange(kit::TextField& field) override;
    bool textFieldShouldReturn(kit::TextField& field) override;
    void alertViewClickedButtonAtIndex(kit::AlertView& alert, int index) override;

    // What the rows say, section by section (what the table shows).
    std::vector<std::string> rowTexts(int section) const;
    size_t rowCount(int section) const;
    std::string rowText(int section, size_t row) const;
    void refresh();
    // Lays the screen out for its size (a turned phone gets two columns).
    void arrange();
    void removeFromList();
    void dismissAction();

    kit::Label* titleLabel { nullptr };
    kit::Label* summaryLabel { nullptr };
    kit::TextField* downLimitTextField { nullptr };
    kit::TextField* upLimitTextField { nullptr };
    kit::TextField* seedTextField { nullptr };
    kit::Label* noteLabel { nullptr };
    kit::TableView* table { nullptr };
    kit::Button* removeButton { nullptr };
    kit::Button* doneButton { nullptr };

    // The seeding goal as typed: whole hours ("72"), or a ratio ("1.5x").
    struct SeedGoal {
        int hours { -1 };
        double ratio { -1 };
    };
    static std::optional<SeedGoal> parseSeedGoal(std::string_view text);

private:
    // The transfer's snapshot as the feed has it now; none once it has gone.
    const TransferSnapshot* transfer() const;
    std::weak_ptr<TransferFeed> m_feed;
    uint64_t m_transfer;
    std::shared_ptr<kit::Timer> m_refresh;
    std::vector<std::string> m_rows[SectionCount];
    size_t m_fileRows { 0 }; // the client's files, after the files section's own rows
    bool m_problemShown { false };
    std::vector<kit::Label*> m_captions; // the fields' captions, as made (seed, up, down) // the note says what was refused, until the next change

};
