#include "transfers/TransferOptions.h"

#include "kit/core/UserDefaults.h"

#include <charconv>

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<long long> wholeNumber(std::string_view text)
{
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string limitProblem(std::string_view text)
{
    text = trimmed(text);
    if (text.empty())
        return "";
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.front() < '0' || text.front() > '9' || error != std::errc() || end != text.data() + text.size())
        return "a limit is a whole number of KB/s, or empty for none";
    if (value < 1)
        return "a limit is 1 KB/s or more; leave it empty for none";
    if (value > TransferOptions::largestLimit)
        return "a limit is at most " + std::to_string(TransferOptions::largestLimit) + " KB/s";
    return "";
}

std::optional<long long> parseLimit(std::string_view text)
{
    text = trimmed(text);
    if (text.empty() || !limitProblem(text).empty())
        return std::nullopt;
    long long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

TransferOptions TransferOptions::stored(kit::UserDefaults& defaults, std::vector<std::string>* problems)
{
    TransferOptions options;
    auto limit = [&](const char* key, std::optional<long long>& out) {
        auto text = defaults.stringForKey(key).value_or("");
        out = parseLimit(text);
        if (auto why = limitProblem(text); !why.empty() && problems)
            problems->push_back(std::string(key) + " \"" + text + "\" is left out: " + why);
    };
    limit(downloadLimitKey, options.downloadLimit);
    limit(uploadLimitKey, options.uploadLimit);
    options.stopWhenComplete = defaults.stringForKey(stopWhenCompleteKey) == "Yes";
    return options;
}

std::vector<std::string> TransferOptions::arguments(const std::string& torrentPath) const
{
    std::vector<std::string> args;
    if (downloadLimit)
        args.insert(args.end(), { "-D", std::to_string(*downloadLimit) });
    if (uploadLimit)
        args.insert(args.end(), { "-U", std::to_string(*uploadLimit) });
    if (stopWhenComplete)
        args.insert(args.end(), { "-e", "0" });
    args.push_back(torrentPath);
    return args;
}
