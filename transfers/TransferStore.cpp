#include "transfers/TransferStore.h"

#include "kit/core/AtomicFile.h"
#include "kit/core/DeviceLayout.h"
#include "kit/core/LineEscape.h"
#include "kit/core/Log.h"

#include <charconv>
#include <cmath>
#include <set>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

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

bool decodeChoices(const std::vector<std::string_view>& f, TransferStore::Record& r)
{
    if (!f[9].empty()) {
        std::set<int> files;
        std::string_view rest = f[9];
        while (true) {
            auto comma = rest.find(',');
            auto n = wholeNumber(rest.substr(0, comma));
            if (!n || *n < 1 || *n > ControlClient::maxFileNumber)
                return false;
            files.insert(int(*n));
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
        r.chosenFiles = std::move(files);
    }
    for (auto [field, out] : { std::pair { f[10], &r.ownDownloadLimit }, std::pair { f[11], &r.ownUploadLimit } }) {
        if (field.empty())
            continue;
        auto value = wholeNumber(field);
        if (!value || *value < 1 || *value > ControlClient::maxRate)
            return false;
        *out = value;
    }
    if (!f[12].empty()) {
        std::string_view goal = f[12];
        if (goal.back() == 'x') {
            goal.remove_suffix(1);
            double ratio = 0;
            auto [end, error] = std::from_chars(goal.data(), goal.data() + goal.size(), ratio);
            if (goal.empty() || error != std::errc() || end != goal.data() + goal.size() || !(ratio > 0) || ratio > ControlClient::maxSeedRatio)
                return false;
            r.seedRatio = ratio;
        } else {
            auto hours = wholeNumber(goal);
            if (!hours || *hours < 0 || *hours > ControlClient::maxSeedHours)
                return false;
            r.seedHours = int(*hours);
        }
    }
    auto copy = kit::unescapeLine(f[13]);
    if (!copy)
        return false;
    r.copy = *copy;
    return true;
}

} // namespace

std::string TransferStore::path()
{
    auto settings = std::filesystem::path(kit::DeviceLayout::current().settingsFile());
    return (settings.parent_path() / fileName).string();
}

std::vector<TransferStore::Record> TransferStore::read()
{
    const auto file = path();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        kit::log("No stored list of transfers at " + file + ": starting with none");
        return {};
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    auto records = decode(text);
    if (!records) {
        // Kept aside for a look; the list starts empty and nothing else is touched.
        std::error_code ignored;
        std::filesystem::rename(file, file + ".corrupt", ignored);
        kit::log("The stored list of transfers at " + file + " cannot be read (kept as " + file + ".corrupt): starting with none");
        return {};
    }
    return *records;
}

void TransferStore::write(const std::vector<Record>& records)
{
    auto text = encode(records);
    if (auto written = kit::writeFileAtomically(path(), reinterpret_cast<const uint8_t*>(text.data()), text.size(), kit::FileAccess::Private); !written)
        kit::log("The list of transfers could not be stored: " + written.error().message);
}

std::string TransferStore::encode(const std::vector<Record>& records)
{
    // One line a transfer: state, pid, download and upload limit, stop when
    // complete, path, name, pieces had/in all, completion told, files
    // chosen ("1,3,4"), its own download and upload limit, its seeding goal
    // ("72" hours or "1.50x"), its copy of the torrent, its key at the
    // tracker gateway, the magnet link it came from; tabs between,
    // escapes within.
    std::ostringstream out;
    out << fileHeader << '\n';
    for (auto& r : records) {
        out << storedStateName(r.state) << '\t' << (r.pid ? std::to_string(*r.pid) : "") << '\t'
            << (r.options.downloadLimit ? std::to_string(*r.options.downloadLimit) : "") << '\t'
            << (r.options.uploadLimit ? std::to_string(*r.options.uploadLimit) : "") << '\t'
            << (r.options.stopWhenComplete ? "Yes" : "No") << '\t' << kit::escapeLine(r.path) << '\t' << kit::escapeLine(r.name) << '\t'
            << (r.pieces ? std::to_string(r.pieces->first) + "/" + std::to_string(r.pieces->second) : "") << '\t'
            << (r.completionTold ? "Yes" : "No") << '\t';
        if (r.chosenFiles) {
            bool first = true;
            for (int n : *r.chosenFiles) {
                out << (first ? "" : ",") << n;
                first = false;
            }
        }
        out << '\t' << (r.ownDownloadLimit ? std::to_string(*r.ownDownloadLimit) : "") << '\t'
            << (r.ownUploadLimit ? std::to_string(*r.ownUploadLimit) : "") << '\t';
        if (r.seedHours)
            out << *r.seedHours;
        else if (r.seedRatio) {
            // By hand: the C library's formatting follows the locale.
            const long long hundredths = std::llround(*r.seedRatio * 100);
            out << hundredths / 100 << '.' << (hundredths % 100 < 10 ? "0" : "") << hundredths % 100 << 'x';
        }
        out << '\t' << kit::escapeLine(r.copy) << '\t' << kit::escapeLine(r.token) << '\t'
            << kit::escapeLine(r.magnet) << '\n';
    }
    return out.str();
}

std::optional<std::vector<TransferStore::Record>> TransferStore::decode(const std::string& text)
{
    // A list written whole ends with a line break; anything torn or foreign is no list.
    const bool first = text.rfind(std::string(firstHeader) + "\n", 0) == 0;
    const bool second = text.rfind(std::string(secondHeader) + "\n", 0) == 0;
    const bool third = text.rfind(std::string(thirdHeader) + "\n", 0) == 0;
    if ((!first && !second && !third && text.rfind(std::string(fileHeader) + "\n", 0) != 0) || text.back() != '\n')
        return std::nullopt;
    const size_t fieldCount = first ? 7 : second ? 9 : third ? 14 : 16;
    std::vector<Record> records;
    std::string_view rest(text);
    rest.remove_prefix(std::string_view(fileHeader).size() + 1);
    while (!rest.empty()) {
        auto end = rest.find('\n');
        auto line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        auto f = fields(line);
        if (f.size() != fieldCount)
            return std::nullopt;
        Record r;
        auto state = storedStateNamed(f[0]);
        auto path = kit::unescapeLine(f[5]);
        auto name = kit::unescapeLine(f[6]);
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
        if (!first) {
            if (!f[7].empty()) {
                auto slash = f[7].find('/');
                auto have = wholeNumber(f[7].substr(0, slash));
                auto total = slash == std::string_view::npos ? std::nullopt : wholeNumber(f[7].substr(slash + 1));
                if (!have || !total || *have < 0 || *total <= 0 || *have > *total)
                    return std::nullopt;
                r.pieces = std::pair { *have, *total };
            }
            if (f[8] != "Yes" && f[8] != "No")
                return std::nullopt;
            r.completionTold = f[8] == "Yes";
        }
        if (fieldCount >= 14 && !decodeChoices(f, r))
            return std::nullopt;
        if (fieldCount == 16) {
            auto token = kit::unescapeLine(f[14]);
            auto magnet = kit::unescapeLine(f[15]);
            if (!token || !magnet)
                return std::nullopt;
            r.token = *token;
            r.magnet = *magnet;
        }
        records.push_back(std::move(r));
    }
    return records;
}
