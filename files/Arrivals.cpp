#include "files/Arrivals.h"

#include "torrent/TorrentContents.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <chrono>

namespace files {

namespace fs = std::filesystem;

namespace {
int rank(ArrivalMark::Role role)
{
    switch (role) {
    case ArrivalMark::Role::Written:
        return 3;
    case ArrivalMark::Role::TorrentFile:
        return 2;
    case ArrivalMark::Role::Holds:
        break;
    }
    return 1;
}
} // namespace

std::string comparablePath(const std::string& path)
{
    std::error_code ec;
    auto absolute = fs::absolute(fs::path(path), ec);
    if (ec)
        return fs::path(path).lexically_normal().string();
    // The entry itself is not followed: a link to a file in use is not the file.
    auto parent = fs::weakly_canonical(absolute.parent_path(), ec);
    if (ec)
        return absolute.lexically_normal().string();
    auto whole = (parent / absolute.filename()).lexically_normal().string();
    while (whole.size() > 1 && whole.back() == '/')
        whole.pop_back();
    return whole;
}

namespace {
bool isAncestorOrSelf(const std::string& folder, const std::string& path)
{
    if (!path.starts_with(folder))
        return false;
    return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

// The folder holding `path` and its last component ("/" holds "/x").
std::pair<std::string, std::string> split(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return { std::string(), path };
    return { path.substr(0, std::max<size_t>(slash, 1)), path.substr(slash + 1) };
}
} // namespace

std::shared_ptr<const ArrivalMap::Index> ArrivalMap::indexOf(const std::string& torrentPath, const std::string& base)
{
    auto index = std::make_shared<Index>();
    index->base = base;
    index->torrentFile = comparablePath(torrentPath);
    if (auto contents = torrent::readContentsOfFile(torrentPath)) {
        auto add = [&](std::string_view relative) {
            // Relative to the base: the top entry, folders between, files.
            auto slash = relative.rfind('/');
            auto folder = slash == std::string_view::npos ? base : base + "/" + std::string(relative.substr(0, slash));
            index->written[folder].emplace_back(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
        };
        add(contents->name);
        if (contents->multiFile) {
            for (const auto& file : contents->files) {
                // Each folder between the top one and the file, then the file.
                size_t slash = contents->name.size();
                while ((slash = file.find('/', slash + 1)) != std::string::npos)
                    add(std::string_view(file).substr(0, slash));
                add(file);
            }
        }
        for (auto& [folder, names] : index->written) {
            std::sort(names.begin(), names.end());
            names.erase(std::unique(names.begin(), names.end()), names.end());
            names.shrink_to_fit();
        }
    }
    return index;
}

bool ArrivalMap::update(const std::vector<Arrival>& arrivals, const std::string& folder)
{
    const std::string base = comparablePath(folder);
    std::map<std::string, std::shared_ptr<const Index>> kept;
    std::vector<Running> running;
    for (const auto& arrival : arrivals) {
        if (arrival.torrentPath.empty())
            continue;
        const double fraction = std::clamp(std::isfinite(arrival.fraction) ? arrival.fraction : 0.0, 0.0, 1.0);
        auto& index = kept[arrival.torrentPath];
        if (!index) {
            // A transfer that just started (or the working folder moved): read once.
            auto it = m_indexes.find(arrival.torrentPath);
            index = it != m_indexes.end() && it->second->base == base ? it->second : indexOf(arrival.torrentPath, base);
        }
        running.push_back({ index, fraction });
    }
    const bool changed = running.size() != m_running.size()
        || !std::equal(running.begin(), running.end(), m_running.begin(),
            [](const Running& a, const Running& b) { return a.index == b.index && a.fraction == b.fraction; });
    m_running = std::move(running);
    m_indexes = std::move(kept);
    return changed;
}

std::optional<ArrivalMark> ArrivalMap::markIn(const std::string& folder, const std::string& name) const
{
    const std::string path = folder == "/" ? "/" + name : folder + "/" + name;
    std::optional<ArrivalMark> found;
    auto mark = [&](ArrivalMark::Role role, double fraction) {
        // A place two transfers touch: the stronger role, the least arrived.
        if (!found) {
            found = ArrivalMark { role, fraction };
            return;
        }
        if (rank(role) > rank(found->role))
            found->role = role;
        found->fraction = std::min(found->fraction, fraction);
    };
    for (const auto& [index, fraction] : m_running) {
        if (auto it = index->written.find(folder); it != index->written.end()
            && std::binary_search(it->second.begin(), it->second.end(), name))
            mark(ArrivalMark::Role::Written, fraction);
        else if (path == index->torrentFile)
            mark(ArrivalMark::Role::TorrentFile, fraction);
        // Every folder above what it writes holds it: deleting one loses it.
        else if ((!index->written.empty() && isAncestorOrSelf(path, index->base)) || isAncestorOrSelf(path, index->torrentFile))
            mark(ArrivalMark::Role::Holds, fraction);
    }
    return found;
}

std::optional<ArrivalMark> ArrivalMap::markFor(const std::string& path) const
{
    if (m_running.empty())
        return std::nullopt;
    auto whole = comparablePath(path);
    if (whole == "/")
        return markIn("/", "");
    auto [folder, name] = split(whole);
    return markIn(folder, name);
}

std::vector<std::optional<ArrivalMark>> ArrivalMap::marksFor(const std::string& folder, const std::vector<std::string>& names) const
{
    std::vector<std::optional<ArrivalMark>> marks(names.size());
    if (m_running.empty())
        return marks;
    const auto base = comparablePath(folder + "/.");
    for (size_t i = 0; i < names.size(); ++i) {
        // A name that is no single entry ("..." and the like) is looked up whole.
        if (!torrent::isSafeComponent(names[i]))
            marks[i] = markFor(folder + "/" + names[i]);
        else
            marks[i] = markIn(base, names[i]);
    }
    return marks;
}

std::string markText(const ArrivalMark& mark)
{
    // Floor, as the transfer tab shows it: 100 % means every piece.
    if (mark.fraction >= 1)
        return "complete, shared";
    const auto percent = std::to_string(int(std::floor(mark.fraction * 100))) + " %";
    if (mark.role == ArrivalMark::Role::TorrentFile)
        return "transferring " + percent;
    return "arriving " + percent;
}

std::string inUseMessage(const std::string& name, const ArrivalMark& mark)
{
    // Once every piece is there the client only reads the files, for others.
    const bool shared = mark.fraction >= 1;
    std::string what;
    switch (mark.role) {
    case ArrivalMark::Role::Written:
        what = shared ? "is being shared by a transfer" : "is being written by a running transfer";
        break;
    case ArrivalMark::Role::Holds:
        what = shared ? "holds files a transfer is sharing" : "holds files a running transfer is writing";
        break;
    case ArrivalMark::Role::TorrentFile:
        what = shared ? "is the .torrent file of a transfer that is sharing" : "is the .torrent file of a running transfer";
        break;
    }
    if (!shared)
        what += " (" + std::to_string(int(std::floor(mark.fraction * 100))) + " %)";
    return "\"" + name + "\" " + what + ". Stop the transfer in the Transfer tab first. Nothing was changed.";
}

} // namespace files
