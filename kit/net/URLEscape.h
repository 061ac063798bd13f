#pragma once
// Percent escapes for building URLs from text.
//
// stringByAddingPercentEscapes escapes what may not appear anywhere in a URL:
// every byte of the UTF-8 text except letters, digits, the marks - _ . ! ~ * ' ( )
// and the URL's own punctuation ; / ? : @ & = + $ , # becomes %XX (upper-case
// hex). A "%" is escaped too, so the text is taken literally, never as escapes.
//
// escapeQueryValue escapes, in addition, what would end a query value early
// ("&" and "#") and "+", which a query reader takes for a blank, for a value
// put into a query as it stands.
//
// percentEscape is the general form: every byte but ASCII letters, digits and
// the characters in keep becomes %XX.
//
// fileURLWithPath makes a "file://" URL of an absolute path; fileURLPath is its
// inverse (nothing when the text is not a file URL).
#include <optional>
#include <string>
#include <string_view>

namespace kit {

std::string percentEscape(std::string_view text, std::string_view keep);
std::string stringByAddingPercentEscapes(std::string_view text);
std::string escapeQueryValue(std::string_view text);
std::string fileURLWithPath(std::string_view path);
std::optional<std::string> fileURLPath(std::string_view url);
// %XX sequences back to bytes; a malformed escape stays as it is.
std::string percentDecode(std::string_view text);

} // namespace kit
