// libFuzzer target for reading .torrent files. Besides crashes, deep
// recursion and sanitizer findings it checks what the files tab relies on:
// every path the reader yields stays under the folder it is laid in, and
// every component of it is a plain name.
#include "fuzz/FuzzCheck.h"
#include "torrent/Bencode.h"
#include "torrent/Magnet.h"
#include "torrent/TorrentContents.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using fuzzcheck::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The same bytes as a magnet link: bounded, and what it yields reads back the same.
    if (const auto result = torrent::parseMagnet(bytes); result.magnet) {
        const auto& m = *result.magnet;
        check(m.trackers.size() <= torrent::Magnet::maxTrackers && m.peers.size() <= torrent::Magnet::maxPeers);
        check(m.name.size() <= torrent::Magnet::maxNameLength);
        check(m.name.empty() || torrent::isSafeComponent(m.name));
        // Only trackers the gateway can ask, whole words with no blank or control in them; only usable peers.
        for (const auto& t : m.trackers) {
            std::string scheme = t.substr(0, t.find("://") + 3);
            for (auto& c : scheme)
                c = char(std::tolower((unsigned char)c));
            check(scheme == "http://" || scheme == "https://" || scheme == "udp://");
            for (const char c : t)
                check((unsigned char)c > 0x20 && c != 0x7f);
        }
        for (const auto& p : m.peers)
            check(p.port != 0 && !p.host.empty());
        // The kept form stays within the bound the parser sets, so it always reads back.
        check(m.link().size() <= torrent::Magnet::maxLength);
        const auto again = torrent::parseMagnet(m.link());
        check(again.magnet && again.magnet->infoHash == m.infoHash && again.magnet->trackers == m.trackers && again.magnet->name == m.name);
    }
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
