#include "torrent/TorrentContents.h"

#include "torrent/Bencode.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

namespace torrent {

bool isSafeComponent(std::string_view component)
{
    return !component.empty() && component != "." && component != ".."
        && component.find('/') == std::string_view::npos && component.find('\0') == std::string_view::npos;
}

namespace {
// The "info" dictionary of a description, its lists left unread.
std::optional<Value> infoOf(std::string_view bytes)
{
    auto top = parse(bytes, 1);
    if (!top.value || !top.value->isDictionary())
        return std::nullopt;
    const Value* info = top.value->find("info");
    if (!info || !info->isDictionary())
        return std::nullopt;
    auto read = parse(info->raw, 1);
    if (!read.value)
        return std::nullopt;
    return std::move(read.value);
}
} // namespace

std::optional<size_t> countFiles(std::string_view bytes, size_t stopAt)
{
    auto info = infoOf(bytes);
    if (!info)
        return std::nullopt;
    const Value* files = info->find("files");
    if (!files || !files->isList())
        return files ? 0 : 1;
    size_t count = 0;
    forEachItem(files->raw, 0, [&](const Value&) { return ++count <= stopAt; });
    return count;
}

std::optional<Contents> readContents(std::string_view bytes)
{
    auto info = infoOf(bytes);
    if (!info)
        return std::nullopt;
    const Value* name = info->find("name");
    if (!name || !name->isString() || !isSafeComponent(name->string))
        return std::nullopt;
    Contents contents;
    contents.name = std::string(name->string);
    const Value* files = info->find("files");
    if (!files) {
        contents.files.push_back(contents.name);
        return contents;
    }
    contents.multiFile = true;
    if (!files->isList())
        return contents;
    size_t count = 0;
    forEachItem(files->raw, 0, [&](const Value&) { return ++count <= maxFileCount; });
    if (count > maxFileCount)
        return std::nullopt;
    // One file's dictionary at a time: only the paths are kept.
    forEachItem(files->raw, maxDepth, [&](const Value& file) {
        const Value* path = file.isDictionary() ? file.find("path") : nullptr;
        if (!path || !path->isList() || path->items.empty())
            return true;
        std::string relative = contents.name;
        for (const auto& component : path->items) {
            if (!component.isString() || !isSafeComponent(component.string))
                return true;
            relative += '/';
            relative += component.string;
        }
        contents.files.push_back(std::move(relative));
        return true;
    });
    return contents;
}

std::optional<Contents> readContentsOfFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    auto size = std::filesystem::file_size(path, ec);
    if (ec || size > static_cast<std::uintmax_t>(maxFileSize))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return readContents(bytes);
}

std::vector<std::string> writtenPaths(const Contents& contents, const std::string& folder)
{
    const std::filesystem::path base(folder);
    std::vector<std::string> paths { (base / contents.name).string() };
    if (!contents.multiFile)
        return paths;
    std::set<std::string> seen { paths.front() };
    for (const auto& file : contents.files) {
        // The folders between the top folder and the file, then the file.
        size_t slash = contents.name.size();
        while ((slash = file.find('/', slash + 1)) != std::string::npos) {
            auto between = (base / file.substr(0, slash)).string();
            if (seen.insert(between).second)
                paths.push_back(std::move(between));
        }
        auto whole = (base / file).string();
        if (seen.insert(whole).second)
            paths.push_back(std::move(whole));
    }
    return paths;
}

} // namespace torrent
