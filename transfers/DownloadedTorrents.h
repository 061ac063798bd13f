#pragma once
// The transfer tab. Each time it comes into view it looks in the stored
// settings for a .torrent file handed over by the files tab and asks whether
// to download it. "Yes" starts the transfer client on that file beside any
// others that run (TransferList: at most a set number at once, further ones
// queue; the same torrent never twice), shows each output chunk of the one in
// front as it arrives, and once a second cuts the latest chunk into the
// progress and rate labels. Stop, Pause and Resume act on the one in front;
// Resume on one without a client starts its client again.
//
// Beside those labels, which stay as the cut makes them, the tab shows what a
// person can follow: a progress bar with the percentage, the rates, the time
// left and the state, read from the client's status line on the same tick.
// When a download completes the user is told once: a desktop notification,
// a log line, and "Complete" on the tab. When the client cannot go on, the
// state says why in plain words (ClientFailure) and the headline agrees;
// the client's own lines stay in the text view. Stop, Pause and Resume are
// enabled only when they would act.
//
// From two transfers on, a list of them (name, bar, percentage, state, rates)
// stands above the front one, taking its room from the text view, or beside
// it where the tab is wide; tapping one brings it to the front. It scrolls
// when they do not all fit (TransferRows). With one transfer or none the tab
// is laid out as it always was.
#include "kit/ui/AlertView.h"
#include "kit/ui/Button.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/FileHandle.h"
#include "kit/ui/Label.h"
#include "kit/core/NotificationCenter.h"
#include "kit/ui/ProgressView.h"
#include "kit/ui/TextField.h"
#include "kit/ui/TextView.h"
#include "kit/core/Timer.h"
#include "kit/core/Utf8Decoder.h"
#include "kit/ui/ViewController.h"
#include "transfers/ClientFailure.h"
#include "transfers/SpinnerLabel.h"
#include "transfers/TransferList.h"
#include "transfers/TransferFeed.h"
#include "transfers/TransferProgress.h"
#include "transfers/TransferRows.h"

#include <optional>
#include <string>
#include <vector>

class TipsViewController;
class TransferService;
class TransferDetailsViewController;

class DownloadedTorrents : public kit::ViewController, public kit::AlertViewDelegate, public kit::TextFieldDelegate, public TransferListDelegate {
public:
    static constexpr const char* noTorrentText = "No torrent file set yet!";
    static constexpr const char* completeNotice = "Download complete";

    DownloadedTorrents();
    std::string className() const override { return "DownloadedTorrents"; }

    void loadView() override;
    void awakeFromNib() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    void showDownloadAlert(const std::string& path);
    void alertViewClickedButtonAtIndex(kit::AlertView& alert, int index) override;
    bool textFieldShouldReturn(kit::TextField& field) override;
    void askForLink();
    void addLink(const std::string& text);
    // False when the child could not be started; the text view then says why.
    bool startDownload(const std::string& path);
    void readPipe(const kit::Notification& notification);
    void devideString();

    void Stoppressed();
    void Pausepressed();
    void Resumepressed();
    void goQueue();
    void showDetails(uint64_t id);

    // Outlets (the tab's view tree holds them).
    kit::TextView* txtView { nullptr };
    kit::Label* torrentLabel { nullptr };
    kit::Label* status { nullptr };
    kit::Label* dnLabel { nullptr };
    kit::Label* upLabel { nullptr };
    SpinnerLabel* prog { nullptr };
    // What a person follows, beside the cut's labels.
    kit::ProgressView* progressBar { nullptr };
    kit::Label* percentLabel { nullptr };
    kit::Label* ratesLabel { nullptr };
    kit::Label* stateLabel { nullptr };
    kit::Label* timeLeftLabel { nullptr };
    kit::Button* stopButton { nullptr };
    kit::Button* pauseButton { nullptr };
    kit::Button* resumeButton { nullptr };
    kit::Button* optionsButton { nullptr };
    // Opens the front transfer's details (also each row's "›").
    kit::Button* detailsButton { nullptr };
    // Asks for a magnet link or a .torrent file's address (openLink does the rest).
    kit::Button* addLinkButton { nullptr };
    static constexpr const char* addLinkTitle = "Add link";
    // Opens what was pasted: done(true) once the tab asks about it. Set by
    // the application before the tab wakes; without it the button is hidden.
    std::function<void(const std::string& link, std::function<void(bool asked)> done)> openLink;
    // A line under the state: the tracker's last words, or why the control channel is not there.
    kit::Label* noteLabel { nullptr };

    // The list of transfers (none with fewer than two).
    kit::TableView* transferListView { nullptr };

    // The transfers as the tab knows them.
    TransferFeed& feed() { return *m_feed; }
    // The owner of the transfers when it is in this process (tests, a shell
    // that hosts it); none when they are the service's.
    TransferService* service() const;
    // Of the owner in this process: the front transfer's child, the list.
    const std::shared_ptr<kit::ChildProcess>& shellProcess() const;
    TransferList& transfers();
    // A transfer the user has not stopped is going on (it may be paused).
    bool isTransferRunning() const;
    // What the files tab may mark: one line per transfer.
    std::vector<TransferSummary> summaries() const;
    // Brings back the stored list (once, when the application starts).
    void restoreTransfers();
    // The application ends: every client ends and the list says stopped.
    void endAllTransfers();

    void transferListChanged() override;
    void transferListFrontOutput() override;
    void transferListTicked() override;
    // The .torrent file the front transfer's client was started on, empty
    // while it has none.
    std::string runningTorrentPath() const;

private:
    void reportStartFailure(const std::string& why);
    // The transfers are seen while this tab is on screen in a shown window.
    void updateSeen();
    // Shows the front transfer: everything when it changed, else what a tick changes.
    void showFront(bool whole);
    void refreshProgress();
    void refreshButtons();
    void layoutTransferList();
    // The four buttons share the width evenly, gaps growing with it (at 320
    // wide: 72 points each, 4 apart).
    void spreadButtons();
    void rebuildTransferRows();
    // A new transfer is asked about: the last one's progress and output go.
    void clearLastTransfer();

    std::shared_ptr<TransferFeed> m_feed;
    std::optional<std::string> m_downloadTorrent;
    std::vector<std::string> m_queueArray;
    std::weak_ptr<TipsViewController> m_optionsViewController; // not owned once presented
    std::weak_ptr<TransferDetailsViewController> m_details; // not owned once presented
    std::weak_ptr<kit::AlertView> m_linkAlert;
    std::shared_ptr<kit::TextField> m_linkField;
    // The transfer shown; none after a question cleared the last one.
    uint64_t m_shown { 0 };
    bool m_frontCleared { false };
    // Until the tab knows better (its view left or entered the window), it counts as on screen.
    bool m_onScreen { true };
    kit::Observation m_windowShown;
    size_t m_listedCount { 0 };
    // The rows of the list; made with the list.
    std::shared_ptr<TransferRows> m_transferRows;
};
