#include "transfers/TipsViewController.h"

#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"
#include "kit/ui/LaidOutView.h"
#include "kit/ui/TextView.h"
#include "transfers/TransferList.h"
#include "transfers/TransferOptions.h"

#include <algorithm>
#include <optional>

namespace {
const kit::Color noteColor = kit::Color::rgba(0.25f, 0.27f, 0.31f);
const kit::Color problemColor = kit::Color::rgba(0.75f, 0.1f, 0.1f);
} // namespace

void TipsViewController::loadView()
{
    // The "Options" screen: the transfer options, what a transfer offers, and a way back.
    auto& defaults = kit::UserDefaults::standard();
    auto root = kit::View::create<kit::LaidOutView>(kit::Rect { 0, 0, 320, 460 });
    root->setBackgroundColor(kit::Color::groupTableViewBackground());
    auto title = kit::View::create<kit::Label>(kit::Rect { 20, 16, 280, 30 });
    title->setText("Options");
    title->setFont(kit::Font::boldSystemFont(22));
    title->setTextAlignment(kit::TextAlignment::Center);
    title->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(title);

    // Three rows of fields, a little closer than two were, so that the tips
    // keep some room when the screen is turned.
    float y = 56;
    const float rowStep = 34;
    auto limit = [&](const char* caption, const char* key, const char* placeholder = "none", std::optional<float> at = std::nullopt) {
        const float rowY = y;
        if (at)
            y = *at;
        auto label = kit::View::create<kit::Label>(kit::Rect { 20, y, 170, 31 });
        label->setText(caption);
        label->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth | kit::ViewAutoresizingFlexibleRightMargin);
        root->addSubview(label);
        auto field = kit::View::create<kit::TextField>(kit::Rect { 190, y, 110, 31 });
        field->setBackgroundColor(kit::Color::white());
        field->setPlaceholder(placeholder);
        field->setAccessibilityLabel(caption);
        field->setText(defaults.stringForKey(key).value_or(""));
        field->setDelegate(kit::weakAs<kit::TextFieldDelegate>(*this));
        field->setAutoresizingMask(kit::ViewAutoresizingFlexibleLeftMargin | kit::ViewAutoresizingFlexibleWidth);
        root->addSubview(field);
        y = at ? rowY : y + rowStep;
        return field.get();
    };
    // Made first though shown third, so that the limits stay the screen's
    // front fields as they always were.
    const auto defaultAtOnce = std::to_string(TransferList::defaultLimit);
    atOnceTextField = limit("Transfers at once", TransferList::limitKey, defaultAtOnce.c_str(), y + 2 * rowStep);
    downLimitTextField = limit("Download limit (KB/s)", TransferOptions::downloadLimitKey);
    upLimitTextField = limit("Upload limit (KB/s)", TransferOptions::uploadLimitKey);
    y += rowStep;
    auto stop = kit::Button::create(kit::Rect { 20, y + 2, 280, 37 }, "", [this] { toggleStopWhenComplete(); });
    stopWhenCompleteButton = stop.get();
    stop->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(stop);
    // Peers without trackers: on unless turned off here; off stops the service's DHT node within a second.
    // A little wider than the others: its title is the screen's longest.
    auto dht = kit::Button::create(kit::Rect { 10, y + 43, 300, 37 }, "", [this] { toggleDht(); });
    dhtButton = dht.get();
    dht->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(dht);
    showStopWhenComplete();
    y += 41;

    auto note = kit::View::create<kit::Label>(kit::Rect { 20, y + 44, 280, 36 });
    note->setNumberOfLines(2);
    note->setLineBreakMode(kit::LineBreakMode::WordWrap);
    note->setFont(kit::Font::systemFont(12));
    note->setTextColor(noteColor);
    note->setText(applies());
    noteLabel = note.get();
    note->setAutoresizingMask(kit::ViewAutoresizingFlexibleWidth);
    root->addSubview(note);

    auto tips = kit::View::create<kit::TextView>(kit::Rect { 20, y + 86, 280, 370 - (y + 86) });
    tips->setAccessibilityLabel("Tips");
    tips->setText("Choose a .torrent file in the Files tab and pick Download; the Transfer tab then asks whether to "
                  "start it.\n\nStop ends the transfer, Pause holds it, Resume lets it go on.\n\nThe transfer goes on "
                  "while you use other applications; use Exit on the Welcome tab to end it.\n\n"
                  "Several transfers run at once, up to the number set here; further ones wait their turn. "
                  "An empty limit means none. Stop when complete ends the transfer once every piece is in, "
                  "instead of sharing it with others.\n\nFind peers without trackers asks the DHT, the network of "
                  "BitTorrent peers themselves, for the peers of public torrents and of magnet links; private "
                  "torrents never use it.");
    tips->setBackgroundColor(kit::Color::white());
    tips->setAutoresizingMask(kit::ViewAutoresizingFlexibleSize);
    root->addSubview(tips);
    auto done = kit::Button::create(kit::Rect { 110, 380, 100, 37 }, "Done", [this] { dismissAction(nullptr); });
    done->setAutoresizingMask(kit::ViewAutoresizingFlexibleTopMargin | kit::ViewAutoresizingFlexibleLeftMargin | kit::ViewAutoresizingFlexibleRightMargin);
    root->addSubview(done);
    m_layout = { title.get(), {}, {}, stop.get(), tips.get(), done.get(), note.get(), dht.get() };
    for (auto* field : { downLimitTextField, upLimitTextField, atOnceTextField }) {
        auto& subs = root->subviews();
        auto at = std::find_if(subs.begin(), subs.end(), [field](auto& v) { return v.get() == field; });
        m_layout.fields.push_back(field);
        m_layout.labels.push_back((at - 1)->get()); // each field follows its caption
    }
    root->onLayout = [this, root = root.get()] { layOut(*root); };
    setView(root);

    // A stored limit that is no number (set from outside) is refused here in
    // the same words as a typed one, not only in the log at the next start.
    for (auto* field : { downLimitTextField, upLimitTextField })
        if (!limitProblem(field->text()).empty())
            textFieldDidChange(*field);
    if (!atOnceTextField->text().empty() && !TransferList::limitProblem(atOnceTextField->text()).empty())
        textFieldDidChange(*atOnceTextField);
}

void TipsViewController::layOut(kit::View& root)
{
    auto& l = m_layout;
    if (!l.title)
        return;
    const float w = root.frame().width(), h = root.frame().height();
    if (h >= compactHeight) {
        // Upright or turned with room to spare: where the masks would take the
        // natural frames (computed from them in one go, so that a trip through
        // the low arrangement comes back to the same frames).
        const float dw = w - 320, dh = h - 460;
        l.title->setFrame({ 20, 16, 280 + dw, 30 });
        for (size_t i = 0; i < l.fields.size(); ++i) {
            const float y = 56 + float(i) * 34;
            l.labels[i]->setFrame({ 20, y, 170 + dw * 170 / 300, 31 });
            l.fields[i]->setFrame({ 190 + dw * 190 / 300, y, 110 + dw * 110 / 300, 31 });
        }
        l.stop->setFrame({ 20, 160, 280 + dw, 37 });
        // Its long title takes the margins' room on the narrowest screen alone.
        const float dhtX = dw >= 20 ? 20 : 10;
        l.dht->setFrame({ dhtX, 201, w - 2 * dhtX, 37 });
        l.note->setNumberOfLines(2);
        l.note->setFrame({ 20, 243, 280 + dw, 36 });
        l.tips->setHidden(false);
        l.tips->setFrame({ 20, 285, 280 + dw, std::max(0.0f, 85 + dh) });
        l.done->setFrame({ 110 + dw / 2, 380 + dh, 100, 37 });
        return;
    }
    // A turned phone's low screen: wide, the options on the left and the
    // tips with Done on the right; narrow, Done beside the title and the
    // tips below the options while there is room for them.
    const bool wide = w >= 480;
    const float left = wide ? std::max(270.0f, (w - 60) / 2) : w - 40;
    const float fieldW = wide ? 90 : 100;
    l.title->setFrame({ 20, 10, wide ? left : left - 110, 30 });
    for (size_t i = 0; i < l.fields.size(); ++i) {
        const float y = 46 + float(i) * 34;
        l.labels[i]->setFrame({ 20, y, left - fieldW - 8, 31 });
        l.fields[i]->setFrame({ 20 + left - fieldW, y, fieldW, 31 });
    }
    l.stop->setFrame({ 20, 150, left, 37 });
    // A narrower column than upright: the note takes a third line.
    l.note->setNumberOfLines(3);
    l.note->setFrame({ 20, 191, left, 48 });
    if (wide) {
        const float x = 40 + left, right = w - 20 - x;
        // The DHT's switch heads the right column, over the tips.
        l.dht->setFrame({ x, 16, right, 37 });
        l.tips->setHidden(false);
        l.tips->setFrame({ x, 57, right, std::max(0.0f, h - 57 - 37 - 10 - 16) });
        l.done->setFrame({ x + (right - 100) / 2, h - 16 - 37, 100, 37 });
    } else {
        l.done->setFrame({ w - 20 - 100, 6, 100, 37 });
        l.dht->setFrame({ 20, 191, left, 37 });
        l.note->setFrame({ 20, 232, left, 48 });
        const float tipsY = 286, tipsH = h - 10 - tipsY;
        l.tips->setHidden(tipsH < 40);
        l.tips->setFrame({ 20, tipsY, left, std::max(0.0f, tipsH) });
    }
}

void TipsViewController::dismissAction(void*)
{
    dismissModalViewControllerAnimated(true);
}

void TipsViewController::textFieldDidChange(kit::TextField& field)
{
    if (&field == atOnceTextField) {
        // Empty is the default; a bad number is said and the stored one stays.
        auto problem = field.text().empty() ? std::string() : TransferList::limitProblem(field.text());
        if (!problem.empty()) {
            noteLabel->setTextColor(problemColor);
            noteLabel->setText("Transfers at once not stored: " + problem + "; it stays "
                + std::to_string(TransferList::storedLimit(kit::UserDefaults::standard())) + ".");
            return;
        }
        kit::UserDefaults::standard().setObject(field.text(), TransferList::limitKey);
        if (onOptionsChanged)
            onOptionsChanged();
        noteLabel->setTextColor(noteColor);
        noteLabel->setText(applies());
        return;
    }
    const char* key = &field == downLimitTextField ? TransferOptions::downloadLimitKey
        : &field == upLimitTextField                ? TransferOptions::uploadLimitKey
                                                    : nullptr;
    if (!key)
        return;
    // Only a valid limit is stored; a bad one is said and the stored one stays.
    auto problem = limitProblem(field.text());
    if (!problem.empty()) {
        auto stored = parseLimit(kit::UserDefaults::standard().stringForKey(key).value_or(""));
        noteLabel->setTextColor(problemColor);
        noteLabel->setText(std::string(&field == downLimitTextField ? "Download" : "Upload") + " limit not stored: " + problem
            + "; it stays " + (stored ? std::to_string(*stored) + " KB/s." : "none."));
        return;
    }
    auto value = parseLimit(field.text());
    kit::UserDefaults::standard().setObject(value ? std::to_string(*value) : "", key);
    if (onOptionsChanged)
        onOptionsChanged();
    noteLabel->setTextColor(noteColor);
    noteLabel->setText(applies());
}

bool TipsViewController::textFieldShouldReturn(kit::TextField& field)
{
    field.resignFirstResponder();
    return true;
}

void TipsViewController::toggleStopWhenComplete()
{
    auto& defaults = kit::UserDefaults::standard();
    const bool on = defaults.stringForKey(TransferOptions::stopWhenCompleteKey) == "Yes";
    defaults.setObject(on ? "No" : "Yes", TransferOptions::stopWhenCompleteKey);
    showStopWhenComplete();
}

void TipsViewController::toggleDht()
{
    auto& defaults = kit::UserDefaults::standard();
    const bool on = defaults.stringForKey(TransferList::dhtKey) != "No";
    defaults.setObject(on ? "No" : "Yes", TransferList::dhtKey);
    showStopWhenComplete();
    if (onOptionsChanged)
        onOptionsChanged();
}

void TipsViewController::showStopWhenComplete()
{
    const bool dhtOn = kit::UserDefaults::standard().stringForKey(TransferList::dhtKey) != "No";
    dhtButton->setTitle(std::string("Find peers without trackers (DHT): ") + (dhtOn ? "Yes" : "No"));
    const bool on = kit::UserDefaults::standard().stringForKey(TransferOptions::stopWhenCompleteKey) == "Yes";
    stopWhenCompleteButton->setTitle(std::string("Stop when complete: ") + (on ? "Yes" : "No"));
}
