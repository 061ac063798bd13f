#pragma once
// The application's localisation table: English text as the key. A key the
// table has no entry for shows as given (the empty default value means "the
// key itself"). On Linux one text reads differently from the handheld's,
// since the page is handed to the desktop's browser:
//   "Launch Safari" -> "Open in Browser".
#include <map>
#include <string>

namespace kit {

std::string localizedString(const std::string& key, const std::string& defaultValue = {});

// The table in use; tests may replace it.
const std::map<std::string, std::string>& localizationTable();
void setLocalizationTable(std::map<std::string, std::string> table);
std::map<std::string, std::string> defaultLocalizationTable();

} // namespace kit
