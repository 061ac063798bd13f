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

std::optional<Contents> readContents(std::string_view bytes)
{
    auto parsed = parse(bytes);
    if (!parsed.value || !parsed.value->isDictionary())
        return std::nullopt;
    const Value* info = parsed.value->find("info");
    if (!info || !info->isDictionary())
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
    for (const auto& file : files->items) {
        const Value* path = file.isDictionary() ? file.find("path") : nullptr;
        if (!path || !path->isList() || path->items.empty())
            continue;
        std::string relative = contents.name;
        bool safe = true;
        for (const auto& component : path->items) {
            if (!component.isString() || !isSafeComponent(component.string)) {
                safe = false;
                break;
            }
            relative += '/';
            relative += component.string;
        }
        if (safe)
            contents.files.push_back(std::move(relative));
    }
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
