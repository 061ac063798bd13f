#pragma once
// The transfer tab. Each time it comes into view it looks in the stored
// settings for a .torrent file handed over by the files tab and asks whether
// to download it. "Yes" starts the transfer client on that file, shows each
// output chunk as it arrives, and once a second cuts the latest chunk into the
// progress and rate labels. Stop, Pause and Resume act on the running child.
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
// Owns the child, the read end of its pipe and the one-second timer; the
// labels and the text view belong to the tab's view tree.
#include "kit/ui/AlertView.h"
#include "kit/ui/Button.h"
#include "kit/core/ChildProcess.h"
#include "kit/core/FileHandle.h"
#include "kit/ui/Label.h"
#include "kit/core/NotificationCenter.h"
#include "kit/ui/ProgressView.h"
#include "kit/ui/TextView.h"
#include "kit/core/Timer.h"
#include "kit/core/Utf8Decoder.h"
#include "kit/ui/ViewController.h"
#include "transfers/ClientFailure.h"
#include "transfers/TransferProgress.h"

#include <optional>
#include <string>
#include <vector>

class TipsViewController;

class DownloadedTorrents : public kit::ViewController, public kit::AlertViewDelegate {
public:
    static constexpr const char* noTorrentText = "No torrent file set yet!";
    static constexpr const char* completeNotice = "Download complete";

    DownloadedTorrents() = default;
    std::string className() const override { return "DownloadedTorrents"; }

    void loadView() override;
    void awakeFromNib() override;
    void viewDidAppear(bool animated) override;

    void showDownloadAlert(const std::string& path);
    void alertViewClickedButtonAtIndex(kit::AlertView& alert, int index) override;
    // False when the child could not be started; the text view then says why.
    bool startDownload(const std::string& path);
    void readPipe(const kit::Notification& notification);
    void devideString();

    void Stoppressed();
    void Pausepressed();
    void Resumepressed();
    void goQueue();

    // Outlets (the tab's view tree holds them).
    kit::TextView* txtView { nullptr };
    kit::Label* torrentLabel { nullptr };
    kit::Label* status { nullptr };
    kit::Label* dnLabel { nullptr };
    kit::Label* upLabel { nullptr };
    kit::Label* prog { nullptr };
    // What a person follows, beside the cut's labels.
    kit::ProgressView* progressBar { nullptr };
    kit::Label* percentLabel { nullptr };
    kit::Label* ratesLabel { nullptr };
    kit::Label* stateLabel { nullptr };
    kit::Label* timeLeftLabel { nullptr };
    kit::Button* stopButton { nullptr };
    kit::Button* pauseButton { nullptr };
    kit::Button* resumeButton { nullptr };

    const std::shared_ptr<kit::ChildProcess>& shellProcess() const { return m_shellProcess; }
    const std::optional<std::string>& text() const { return m_text; }
    bool isTicking() const { return m_tick && m_tick->isValid(); }
    const TransferProgress& progress() const { return m_progress; }
    // A transfer the user has not stopped is going on (it may be paused).
    bool isTransferRunning() const;
    // The .torrent file the current client was started on (the client's
    // last argument), empty before the first start.
    std::string runningTorrentPath() const { return m_shellProcess && !m_shellProcess->arguments().empty() ? m_shellProcess->arguments().back() : std::string(); }

private:
    void endCurrentChild();
    void reportStartFailure(const std::string& why);
    void childEnded(kit::ChildProcess& child);
    void noticeCompletion(std::string_view chunk);
    // Feeds the latest chunk's status line to the progress and shows it.
    void refreshProgress();
    void refreshButtons();
    // A new transfer is asked about: the last one's progress and output go.
    void clearLastTransfer();

    std::shared_ptr<kit::ChildProcess> m_shellProcess;
    std::shared_ptr<kit::FileHandle> m_handle;
    std::optional<std::string> m_downloadTorrent;
    std::vector<std::string> m_queueArray;
    std::weak_ptr<TipsViewController> m_optionsViewController; // not owned once presented
    std::optional<std::string> m_text;
    // The latest chunk with more than blanks in it.
    std::string m_lastWords;
    kit::Utf8Decoder m_decoder;
    // Both end with this controller: nothing calls into it after it has gone.
    std::shared_ptr<kit::Timer> m_tick;
    TransferProgress m_progress;
    std::string m_runningName; // the running torrent's name, for the title
    bool m_textIsCurrent { false }; // m_text came from the current child
    std::string m_chunkTail; // the end of the previous chunk, for a notice split across reads
    ClientFailure m_failure;
    bool m_rateIsFresh { false }; // the latest chunk came after the last pause
    kit::Observation m_pipeReads;
};
