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

const ArrivalMap::Read& ArrivalMap::contentsOf(const std::string& torrentPath)
{
    long long size = -1, modified = 0;
    std::error_code sizeError, timeError;
    const auto bytes = fs::file_size(torrentPath, sizeError);
    const auto written = fs::last_write_time(torrentPath, timeError);
    if (!sizeError && !timeError) {
        size = static_cast<long long>(bytes);
        modified = static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count());
    }
    auto& read = m_reads[torrentPath];
    if (read.size == size && read.modified == modified && size >= 0)
        return read;
    read = Read { size, modified, {} };
    if (auto contents = torrent::readContentsOfFile(torrentPath))
        read.written = torrent::writtenPaths(*contents, ""); // relative: the top entry, folders between, files
    return read;
}

void ArrivalMap::update(const std::vector<Arrival>& arrivals, const std::string& folder)
{
    m_marks.clear();
    std::map<std::string, Read> kept;
    const std::string base = comparablePath(folder);
    auto mark = [&](const std::string& path, ArrivalMark::Role role, double fraction) {
        auto [it, added] = m_marks.try_emplace(path, ArrivalMark { role, fraction });
        // A place two transfers touch: the stronger role, the least arrived.
        if (!added) {
            if (rank(role) > rank(it->second.role))
                it->second.role = role;
            it->second.fraction = std::min(it->second.fraction, fraction);
        }
        return added;
    };
    auto markHolders = [&](std::string path, double fraction) {
        // Every folder above it up to the root holds it: deleting one loses
        // it. Once one is marked, those above it are too.
        while (path.size() > 1) {
            auto slash = path.rfind('/');
            if (slash == std::string::npos)
                break;
            path.resize(std::max<size_t>(slash, 1));
            if (!mark(path, ArrivalMark::Role::Holds, fraction))
                break;
        }
    };
    for (const auto& arrival : arrivals) {
        if (arrival.torrentPath.empty())
            continue;
        const double fraction = std::clamp(std::isfinite(arrival.fraction) ? arrival.fraction : 0.0, 0.0, 1.0);
        const auto& read = contentsOf(arrival.torrentPath);
        kept[arrival.torrentPath] = read;
        for (const auto& relative : read.written) {
            auto path = base + "/" + relative;
            mark(path, ArrivalMark::Role::Written, fraction);
            markHolders(path, fraction);
        }
        auto torrentFile = comparablePath(arrival.torrentPath);
        mark(torrentFile, ArrivalMark::Role::TorrentFile, fraction);
        markHolders(torrentFile, fraction);
    }
    // Only the .torrent files still running stay read.
    m_reads = std::move(kept);
}

std::optional<ArrivalMark> ArrivalMap::markFor(const std::string& path) const
{
    if (m_marks.empty())
        return std::nullopt;
    auto it = m_marks.find(comparablePath(path));
    if (it == m_marks.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::optional<ArrivalMark>> ArrivalMap::marksFor(const std::string& folder, const std::vector<std::string>& names) const
{
    std::vector<std::optional<ArrivalMark>> marks(names.size());
    if (m_marks.empty())
        return marks;
    auto base = comparablePath(folder + "/.");
    if (base.size() > 1)
        base += '/';
    for (size_t i = 0; i < names.size(); ++i) {
        // A name that is no single entry ("..." and the like) is looked up whole.
        if (!torrent::isSafeComponent(names[i])) {
            marks[i] = markFor(folder + "/" + names[i]);
            continue;
        }
        if (auto it = m_marks.find(base + names[i]); it != m_marks.end())
            marks[i] = it->second;
    }
    return marks;
}

std::string markText(const ArrivalMark& mark)
{
    // Floor, as the transfer tab shows it: 100 % means every piece.
    const auto percent = std::to_string(int(std::floor(mark.fraction * 100))) + " %";
    if (mark.role == ArrivalMark::Role::TorrentFile)
        return "transferring " + percent;
    return mark.fraction >= 1 ? "complete, shared" : "arriving " + percent;
}

std::string inUseMessage(const std::string& name, const ArrivalMark& mark)
{
    std::string what;
    switch (mark.role) {
    case ArrivalMark::Role::Written:
        what = "is being written by a running transfer";
        break;
    case ArrivalMark::Role::Holds:
        what = "holds files a running transfer is writing";
        break;
    case ArrivalMark::Role::TorrentFile:
        what = "is the .torrent file of a running transfer";
        break;
    }
    return "\"" + name + "\" " + what + " (" + std::to_string(int(std::floor(mark.fraction * 100))) + " %). Stop the transfer in the Transfer tab first. Nothing was changed.";
}

} // namespace files
