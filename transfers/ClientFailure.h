#pragma once
// Reads the transfer client's error lines into one plain message a person
// understands ("Not a valid torrent file", "Cannot write to the downloads
// folder: permission denied"), so that the tab can say why a transfer could
// not go on. The client's own lines stay in the text view; this only words
// them.
//
// Output is fed chunk by chunk as it is read: a line cut between two reads
// is put together first. The first specific reason wins; the client's
// closing "initial meta info failed" only counts when nothing more specific
// came before it.
#include <optional>
#include <string>
#include <string_view>

class ClientFailure {
public:
    static constexpr const char* notATorrent = "Not a valid torrent file";
    static constexpr const char* cannotWrite = "Cannot write to the downloads folder";
    static constexpr const char* cannotRead = "Cannot read the torrent file";

    void feed(std::string_view chunk);
    // The end of output: a last line without its line feed counts too.
    void finish();
    void reset() { *this = ClientFailure {}; }

    // The message, once a failure was read.
    const std::optional<std::string>& words() const { return m_words; }

    // The message for one line of output; nothing for any other line.
    static std::optional<std::string> wordsForLine(std::string_view line);

private:
    void line(std::string_view text);

    std::string m_partial; // the line still being read
    std::optional<std::string> m_words;
    bool m_generic { false }; // m_words is only the client's closing word
};
