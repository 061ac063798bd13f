#pragma once
// The error record of the JSON reader: a domain, a negative code and, for the
// scanner's errors, a human-readable description. Plain value; copy freely.

#include <optional>
#include <string>

namespace json {

class Error {
public:
    Error() = default;
    Error(std::string domain, int code, std::optional<std::string> localizedDescription = std::nullopt)
        : domain(std::move(domain)), code(code), localizedDescription(std::move(localizedDescription)) {}

    // The description detail when the error carries one; otherwise a generic
    // line naming the domain and the code, so that callers always have a text.
    std::string description() const;

    bool operator==(const Error&) const = default;

    std::string domain;
    int code = 0;
    std::optional<std::string> localizedDescription;
};

} // namespace json
