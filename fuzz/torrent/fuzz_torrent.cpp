// libFuzzer target for reading .torrent files. Besides crashes, deep
// recursion and sanitizer findings it checks what the files tab relies on:
// every path the reader yields stays under the folder it is laid in, and
// every component of it is a plain name.
#include "fuzz/FuzzCheck.h"
#include "torrent/Bencode.h"
#include "torrent/TorrentContents.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using fuzzcheck::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto parsed = torrent::parse(bytes);
    check(parsed.position <= size);
    const auto contents = torrent::readContents(bytes);
    if (!contents)
        return 0;
    check(torrent::isSafeComponent(contents->name));
    const std::string folder = "/downloads";
    for (const auto& path : torrent::writtenPaths(*contents, folder)) {
        check(path.rfind(folder + "/" + contents->name, 0) == 0);
        std::string_view rest(path);
        rest.remove_prefix(folder.size() + 1);
        while (!rest.empty()) {
            auto slash = rest.find('/');
            check(torrent::isSafeComponent(rest.substr(0, slash)));
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        }
    }
    return 0;
}
