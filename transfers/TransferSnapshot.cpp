#include "transfers/TransferSnapshot.h"

#include "transfers/ControlClient.h"
#include "transfers/Transfer.h"

TransferSnapshot TransferSnapshot::of(Transfer& transfer)
{
    TransferSnapshot s;
    s.id = transfer.id();
    s.path = transfer.path();
    s.name = transfer.name();
    s.status = transfer.statusText();
    s.prog = transfer.progText();
    s.down = transfer.downText();
    s.up = transfer.upText();
    s.shown = transfer.shownText();
    s.hasText = transfer.text().has_value();
    const auto& progress = transfer.progress();
    s.state = progress.state();
    s.stateText = transfer.stateText();
    s.percentText = progress.percentText();
    s.ratesText = progress.ratesText();
    s.spokenRatesText = progress.spokenRatesText();
    s.timeLeftText = progress.timeLeftText();
    s.hasLatest = progress.latest().has_value();
    s.fraction = progress.latest() ? progress.latest()->fraction() : 0.0;
    s.storedState = int(transfer.storedState());
    s.hasClient = transfer.hasClient();
    s.running = transfer.isRunning();
    s.paused = s.running && transfer.isPaused();
    // Fetching its metadata, it waits as a queued one does: Stop ends it.
    s.queued = transfer.isQueued() || transfer.isFetching();
    s.quitting = transfer.isQuitting();
    s.restartWhenGone = transfer.restartWhenGone;
    s.ownClientRunning = transfer.child() && transfer.child()->isRunning();
    s.ownDownloadLimit = transfer.ownDownloadLimit;
    s.ownUploadLimit = transfer.ownUploadLimit;
    s.seedHours = transfer.seedHours;
    s.seedRatio = transfer.seedRatio;
    s.chosenFiles = transfer.chosenFiles;
    if (auto* channel = transfer.control()) {
        s.hasChannel = true;
        s.channelConnected = channel->isConnected();
        s.clientStatus = channel->status();
        if (!channel->infos().empty())
            s.note = channel->infos().back();
        s.peers = channel->peers();
        // The client's own list, shared, never a copy of it.
        if (channel->detail() && channel->files()) {
            s.files = channel->files();
            s.filesVersion = channel->detailVersion();
        }
    }
    return s;
}
