#pragma once
// The downloads folder tab. Lists one folder at a time: row 0 "..." goes to
// the parent folder (up to the device's root, shown as "/"), a folder is
// entered, and a file opens the file actions (Download or Play, eMail File,
// Rename, Delete, Cancel). What an entry is comes from the file system, not
// from its name. Coming into view it lists the current folder in torrent
// mode (.torrent entries only); walking lists every entry.
//
// Download (offered for a .torrent file in either mode) hands the file to the
// transfer tab through the stored settings and selects that tab. Play hands the file to the movie player, which this tab
// holds until its finish notification. The action sheet and the rename
// question are held by the application while shown; the tab only refers to
// them, and their links back to it (and the table's) are weak.
//
// Entries a running transfer uses (its files, the folders holding them, its
// .torrent) show the transfer's percentage beside their names, refreshed once
// a second while the tab is in view; Rename and Delete of them are refused
// with an alert. The application says which transfers run (setArrivalSource).
//
// The tab is also the ad banner's host: it asks for a banner when its view
// loads, shows it at (0, 364, 320, 48) once the first ad has arrived and
// asks for a fresh ad every 60 s from then on; when the first ad fails the
// banner is dropped for good. It holds the banner and the refresh timer.
#include "ads/AdlarkDelegate.h"
#include "ads/AdlarkView.h"
#include "files/Arrivals.h"
#include "files/FolderListing.h"
#include "kit/ui/ActionSheet.h"
#include "kit/ui/AlertView.h"
#include "kit/ui/Label.h"
#include "kit/ui/MoviePlayer.h"
#include "kit/core/NotificationCenter.h"
#include "kit/ui/TableView.h"
#include "kit/ui/TextField.h"
#include "kit/core/Timer.h"
#include "kit/ui/ViewController.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TorrentFiles : public kit::ViewController,
                     public kit::TableViewDataSource,
                     public kit::TableViewDelegate,
                     public kit::ActionSheetDelegate,
                     public kit::AlertViewDelegate,
                     public kit::TextFieldDelegate,
                     public AdlarkDelegate {
public:
    static constexpr const char* cellIdentifier = "Cell";
    static constexpr float parentRowHeight = 48.0f;
    static constexpr float entryRowHeight = 44.0f;
    static constexpr const char* adlarkPublisherId = "c7e05d2f9b31a48";
    static constexpr double adRefreshInterval = 60.0;
    static kit::Rect adlarkFrame() { return { 0, 364, 320, 48 }; }
    // The transfer tab's place in the tab bar, which keeps it fourth.
    static constexpr int transferTabIndex = 3;

    TorrentFiles() = default;
    ~TorrentFiles() override;
    std::string className() const override { return "TorrentFiles"; }

    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didReceiveMemoryWarning() override { kit::ViewController::didReceiveMemoryWarning(); }
    bool shouldAutorotateToInterfaceOrientation(int) const { return true; }

    // The three list refreshes.
    void updateArray();
    void updateArrayWithPath(const std::string& folder);
    void updateArrayWithAllFiles();

    // Table.
    int numberOfSectionsInTableView(kit::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(kit::TableView& table, int section) override;
    std::shared_ptr<kit::TableViewCell> tableViewCellForRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath) override;
    float tableViewHeightForRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath) override;
    void tableViewDidSelectRowAtIndexPath(kit::TableView& table, kit::IndexPath indexPath) override;

    // File actions.
    void showDownloadView(const std::string& name);
    void actionSheetClickedButtonAtIndex(kit::ActionSheet& sheet, int index) override;
    void alertViewClickedButtonAtIndex(kit::AlertView& alert, int index) override;
    // Return in the rename field does what "OK" does.
    bool textFieldShouldReturn(kit::TextField& field) override;
    void movieFinishedCallback(const kit::Notification& notification);
    void sendEmail(const std::string& subject, const std::string& message, const std::string& file);

    files::ListingMode mode() const { return download ? files::ListingMode::Torrent : files::ListingMode::AllEntries; }
    const std::string& prompt() const { return m_prompt; }
    void setPrompt(const std::string& text);
    const std::shared_ptr<kit::MoviePlayerController>& moviePlayer() const { return m_moviePlayer; }

    // The ad banner's host.
    std::optional<std::string> publisherId() override { return std::string(adlarkPublisherId); }
    std::optional<kit::Color> adBackgroundColor() override { return kit::Color::rgba(0, 0, 0, 1.0f); }
    std::optional<kit::Color> adTextColor() override { return kit::Color::rgba(1.0f, 1.0f, 1.0f, 1.0f); }
    std::optional<bool> mayAskForLocation() override { return false; }
    void didReceiveAd(AdlarkView& banner) override;
    void didFailToReceiveAd(AdlarkView& banner) override;
    void refreshAd(kit::Timer& timer);
    // While the banner shows over the list's bottom, the list ends above it.
    float bannerInset() const;

    // The transfers running now, as the application tells them. Their files
    // and .torrent files are marked with the percentage (refreshed once a
    // second while the tab is in view) and cannot be renamed or deleted.
    using ArrivalSource = std::function<std::vector<files::Arrival>()>;
    void setArrivalSource(ArrivalSource source);
    static constexpr double arrivalRefreshInterval = 1.0;
    // The row's text: the entry's shown name, and its mark when in use.
    std::string rowText(size_t row) const;
    // Reads the running transfers again; rows whose mark changed are redrawn.
    void refreshArrivals();

    // Outlet (the tab's view tree holds it).
    kit::TableView* tableView { nullptr };

    std::vector<std::string> fileArray;        // the folder's entries as last read (filtered in torrent mode)
    std::vector<std::string> fileMutableArray; // the rows: "..." then fileArray
    std::string fullPath2;                     // currentDir, "/", file: the entry last tapped
    std::string file;                          // name of the entry last tapped
    std::string newFileName;                   // the name typed for a rename
    std::string currentDir;                    // the folder being listed
    std::shared_ptr<kit::TextField> nameField; // entry field of the rename question
    bool download { true };                    // true: torrent mode; false: all-entries mode
    std::shared_ptr<AdlarkView> adlarkAd;       // the banner, from its request until the first ad fails
    std::shared_ptr<kit::Timer> autoslider;     // the 60 s refresh, once the first ad has arrived
    bool adlarkBOOL { true };                  // cleared by Download; nothing reads it
    std::weak_ptr<kit::ActionSheet> actionSheet; // the sheet last shown (the application holds it while shown)

private:
    void refresh(const std::string& folder, files::ListingMode mode, bool setsPrompt);
    void refreshInCurrentMode();
    void downloadFile();
    void playFile();
    void askForNewName();
    void endPlayback();
    void refuseName(const std::string& message);
    // When the entry at `path` is in use by a running transfer: the alert
    // that says so (titled `title`), and true. Reads the transfers afresh.
    bool refuseInUse(const std::string& path, const std::string& title);
    std::vector<std::string> rowMarks() const;
    void startArrivalTick();
    void updateBannerInset();

    std::string m_prompt;
    kit::Label* m_promptLabel { nullptr };
    // What the sheet last shown offers: the .torrent actions (Download, the
    // torrent wording of mail) for a .torrent in either mode.
    files::ListingMode m_sheetMode { files::ListingMode::Torrent };
    std::weak_ptr<kit::AlertView> m_renameAlert;
    std::shared_ptr<kit::MoviePlayerController> m_moviePlayer;
    bool m_adlarkFailed { false };
    ArrivalSource m_arrivalSource;
    files::ArrivalMap m_arrivals;
    std::vector<std::string> m_shownMarks;       // the marks the list was last drawn with
    std::shared_ptr<kit::Timer> m_arrivalTick;   // while in view with a source
    kit::Observation m_movieFinished; // the player's end, heard while this controller lives
};
