#include "kit/core/Localization.h"

namespace kit {

namespace {

std::map<std::string, std::string>& table()
{
    static std::map<std::string, std::string> t = defaultLocalizationTable();
    return t;
}

} // namespace

std::map<std::string, std::string> defaultLocalizationTable()
{
    return { { "Launch Safari", "Open in Browser" } };
}

const std::map<std::string, std::string>& localizationTable()
{
    return table();
}

void setLocalizationTable(std::map<std::string, std::string> t)
{
    table() = std::move(t);
}

std::string localizedString(const std::string& key, const std::string& defaultValue)
{
    auto& t = table();
    if (auto it = t.find(key); it != t.end())
        return it->second;
    return defaultValue.empty() ? key : defaultValue;
}

} // namespace kit
