#include "transfers/TransferList.h"

#include "kit/core/AtomicFile.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/FileManager.h"
#include "kit/core/ForeignProcess.h"
#include "kit/core/Log.h"
#include "kit/core/RunLoop.h"
#include "kit/core/UserDefaults.h"
#include "kit/core/WeakBind.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

std::string normalPath(const std::string& path)
{
    return std::filesystem::path(path).lexically_normal().string();
}

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescaped(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::optional<long long> wholeNumber(std::string_view text)
{
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t start = 0;
    while (true) {
        auto tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    return out;
}

} // namespace

std::string TransferList::storePath()
{
    auto settings = std::filesystem::path(kit::DeviceLayout::current().settingsFile());
    return (settings.parent_path() / fileName).string();
}

std::string TransferList::limitProblem(std::string_view text)
{
    auto value = wholeNumber(text);
    if (!value || *value < 1 || *value > largestLimit)
        return "transfers at once is a whole number from 1 to " + std::to_string(largestLimit);
    return "";
}

int TransferList::storedLimit(kit::UserDefaults& defaults)
{
    auto text = defaults.stringForKey(limitKey).value_or("");
    if (text.empty() || !limitProblem(text).empty())
        return defaultLimit;
    return int(*wholeNumber(text));
}

int TransferList::limit() const
{
    return storedLimit(kit::UserDefaults::standard());
}

Transfer* TransferList::find(const std::string& path) const
{
    auto wanted = normalPath(path);
    for (auto& transfer : m_transfers)
        if (normalPath(transfer->path()) == wanted)
            return transfer.get();
    return nullptr;
}

size_t TransferList::runningCount() const
{
    return size_t(std::count_if(m_transfers.begin(), m_transfers.end(), [](auto& t) { return t->isRunning(); }));
}

void TransferList::wire(Transfer& transfer)
{
    transfer.onEnded = kit::bindWeak(*this, &TransferList::transferEnded);
    transfer.onOutput = kit::bindWeak(*this, &TransferList::transferOutput);
    transfer.onStateChanged = kit::bindWeak(*this, &TransferList::transferStateChanged);
}

std::shared_ptr<Transfer> TransferList::add(const std::string& path, const std::string& name, const TransferOptions& options)
{
    auto transfer = std::make_shared<Transfer>(path, name, options);
    wire(*transfer);
    m_transfers.push_back(transfer);
    return transfer;
}

void TransferList::ensureTicking()
{
    // One tick serves every transfer.
    if (!isTicking())
        m_tick = kit::Timer::scheduled(1.0, true, [weak = weak_from_this()](kit::Timer&) {
            if (auto self = weak.lock())
                self->tickAll();
        });
}

TransferList::Answer TransferList::ask(const std::string& path, const std::string& name, const TransferOptions& options)
{
    if (auto* known = find(path)) {
        // Never a second client on one torrent: the known one comes to the front.
        m_front = known->shared_from_this();
        if (known->hasClient() || known->isQueued()) {
            tell();
            return { Asked::AlreadyThere, std::nullopt };
        }
        known->setOptions(options);
        auto failure = resumeFront();
        if (failure)
            return { Asked::Failed, failure };
        return { known->isQueued() ? Asked::Queued : Asked::Started, std::nullopt };
    }
    if (runningCount() >= size_t(limit())) {
        auto transfer = add(path, name, options);
        transfer->setQueued(true);
        m_front = transfer;
        ensureTicking();
        store();
        tell();
        return { Asked::Queued, std::nullopt };
    }
    auto transfer = std::make_shared<Transfer>(path, name, options);
    if (auto failure = transfer->start())
        return { Asked::Failed, failure }; // the list is as it was
    wire(*transfer);
    m_transfers.push_back(transfer);
    m_front = transfer;
    ensureTicking();
    store();
    tell();
    return { Asked::Started, std::nullopt };
}

void TransferList::bringToFront(Transfer& transfer)
{
    m_front = transfer.shared_from_this();
    tell();
}

void TransferList::stopFront()
{
    if (m_front)
        m_front->stop();
}

void TransferList::pauseFront()
{
    if (m_front)
        m_front->pause();
}

std::optional<std::string> TransferList::resumeFront()
{
    if (!m_front)
        return std::nullopt;
    if (m_front->hasClient()) {
        m_front->resume();
        return std::nullopt;
    }
    if (m_front->isQueued())
        return std::nullopt;
    if (runningCount() >= size_t(limit())) {
        m_front->setQueued(true);
        store();
        tell();
        return std::nullopt;
    }
    auto failure = m_front->start();
    ensureTicking();
    store();
    tell();
    return failure;
}

void TransferList::transferOutput(Transfer& transfer)
{
    if (&transfer != m_front.get())
        return;
    if (auto d = delegate.lock())
        d->transferListFrontOutput();
}

void TransferList::transferStateChanged(Transfer&)
{
    store();
    tell();
}

void TransferList::transferEnded(Transfer&)
{
    if (!m_ending)
        startQueued();
    store();
    tell();
}

void TransferList::startQueued()
{
    for (auto& transfer : m_transfers) {
        if (runningCount() >= size_t(limit()))
            break;
        if (!transfer->isQueued())
            continue;
        transfer->setQueued(false);
        if (auto failure = transfer->start()) {
            kit::log(transfer->name() + ": " + *failure);
            transfer->restoreAs(StoredState::Stopped);
        }
    }
}

void TransferList::tell()
{
    if (auto d = delegate.lock())
        d->transferListChanged();
}

void TransferList::tickAll()
{
    const double now = kit::RunLoop::main().now();
    // A transfer's end may start a queued one: tick a copy.
    auto transfers = m_transfers;
    for (auto& transfer : transfers)
        transfer->tick(now);
    // A limit raised on the options screen lets queued ones start.
    startQueued();
    if (auto d = delegate.lock())
        d->transferListTicked();
}

void TransferList::endAll()
{
    m_ending = true;
    // Own clients end with the application (it ends every child it started);
    // one taken over from an earlier run is told here, as it is no child.
    for (auto& transfer : m_transfers)
        if (transfer->isAdopted() && transfer->hasClient())
            transfer->stop();
    // What runs now ends with the application: the next start lists it stopped.
    std::vector<Record> records;
    for (auto& transfer : m_transfers) {
        auto state = transfer->storedState();
        if (state != StoredState::Complete)
            state = StoredState::Stopped;
        records.push_back({ transfer->path(), transfer->name(), state, std::nullopt, transfer->options() });
    }
    auto text = encode(records);
    if (auto written = kit::writeFileAtomically(storePath(), reinterpret_cast<const uint8_t*>(text.data()), text.size()); !written)
        kit::log("The list of transfers could not be stored: " + written.error().message);
}

void TransferList::store()
{
    if (m_restoring || m_ending)
        return;
    std::vector<Record> records;
    for (auto& transfer : m_transfers)
        records.push_back({ transfer->path(), transfer->name(), transfer->storedState(), transfer->clientPid(), transfer->options() });
    auto text = encode(records);
    if (auto written = kit::writeFileAtomically(storePath(), reinterpret_cast<const uint8_t*>(text.data()), text.size()); !written)
        kit::log("The list of transfers could not be stored: " + written.error().message);
}

bool TransferList::isClientOn(pid_t pid, const std::string& torrentPath)
{
    auto args = kit::ForeignProcess::commandLine(pid);
    if (!args || args->size() < 2)
        return false;
    const auto client = kit::DeviceLayout::current().ctorrentPath();
    const auto clientName = std::filesystem::path(client).filename().string();
    auto isClient = [&](const std::string& arg) {
        return arg == client || std::filesystem::path(arg).filename().string() == clientName;
    };
    // The client itself, or an interpreter running it as a script.
    const bool program = isClient((*args)[0]) || (args->size() > 2 && (*args)[1] == client);
    return program && normalPath(args->back()) == normalPath(torrentPath);
}

void TransferList::restore()
{
    const auto path = storePath();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        kit::log("No stored list of transfers at " + path + ": starting with none");
        return;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    auto records = decode(text);
    if (!records) {
        // Kept aside for a look; the list starts empty and nothing else is touched.
        std::error_code ignored;
        std::filesystem::rename(path, path + ".corrupt", ignored);
        kit::log("The stored list of transfers at " + path + " cannot be read (kept as " + path + ".corrupt): starting with none");
        return;
    }
    m_restoring = true;
    for (auto& record : *records) {
        if (find(record.path))
            continue; // never twice
        auto transfer = add(record.path, record.name, record.options);
        const bool wasGoing = record.state == StoredState::Running || record.state == StoredState::Queued || record.state == StoredState::Paused;
        if (wasGoing && record.pid && isClientOn(*record.pid, record.path)) {
            kit::log(record.name + ": the client left running (process " + std::to_string(*record.pid) + ") is taken over");
            transfer->adopt(*record.pid, record.state == StoredState::Paused);
            continue;
        }
        transfer->restoreAs(record.state);
    }
    m_restoring = false;
    startQueued();
    if (!m_transfers.empty()) {
        auto going = std::find_if(m_transfers.begin(), m_transfers.end(), [](auto& t) { return t->hasClient(); });
        m_front = going != m_transfers.end() ? *going : m_transfers.front();
        ensureTicking();
    }
    store();
    tell();
}

std::vector<TransferSummary> TransferList::summaries() const
{
    std::vector<TransferSummary> out;
    for (auto& transfer : m_transfers) {
        auto& latest = transfer->progress().latest();
        out.push_back({ transfer->path(), latest ? std::clamp(latest->fraction(), 0.0, 1.0) : 0.0, transfer->storedState(), transfer->hasClient() });
    }
    return out;
}

std::string TransferList::encode(const std::vector<Record>& records)
{
    // One line a transfer: state, pid, download and upload limit, stop when
    // complete, path, name; tabs between, escapes within.
    std::ostringstream out;
    out << fileHeader << '\n';
    for (auto& r : records) {
        out << storedStateName(r.state) << '\t' << (r.pid ? std::to_string(*r.pid) : "") << '\t'
            << (r.options.downloadLimit ? std::to_string(*r.options.downloadLimit) : "") << '\t'
            << (r.options.uploadLimit ? std::to_string(*r.options.uploadLimit) : "") << '\t'
            << (r.options.stopWhenComplete ? "Yes" : "No") << '\t' << escaped(r.path) << '\t' << escaped(r.name) << '\n';
    }
    return out.str();
}

std::optional<std::vector<TransferList::Record>> TransferList::decode(const std::string& text)
{
    // A list written whole ends with a line break; anything torn or foreign is no list.
    if (text.rfind(std::string(fileHeader) + "\n", 0) != 0 || text.back() != '\n')
        return std::nullopt;
    std::vector<Record> records;
    std::string_view rest(text);
    rest.remove_prefix(std::string_view(fileHeader).size() + 1);
    while (!rest.empty()) {
        auto end = rest.find('\n');
        auto line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        auto f = fields(line);
        if (f.size() != 7)
            return std::nullopt;
        Record r;
        auto state = storedStateNamed(f[0]);
        auto path = unescaped(f[5]);
        auto name = unescaped(f[6]);
        if (!state || !path || !name || path->empty() || (f[4] != "Yes" && f[4] != "No"))
            return std::nullopt;
        r.state = *state;
        r.path = *path;
        r.name = *name;
        if (!f[1].empty()) {
            auto pid = wholeNumber(f[1]);
            if (!pid || *pid < 2)
                return std::nullopt;
            r.pid = pid_t(*pid);
        }
        for (auto [field, out] : { std::pair { f[2], &r.options.downloadLimit }, std::pair { f[3], &r.options.uploadLimit } }) {
            if (field.empty())
                continue;
            auto value = parseLimit(field);
            if (!value)
                return std::nullopt;
            *out = value;
        }
        r.options.stopWhenComplete = f[4] == "Yes";
        records.push_back(std::move(r));
    }
    return records;
}
