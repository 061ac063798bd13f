#pragma once
// What the ad service needs of a reader of its answers: bytes in, a dictionary
// out, or nothing (with the reason in the error slot when one is given).

#include "json/Forward.h"
#include "json/Value.h"

#include <optional>

namespace json {

class CDeserializerProtocol {
public:
    virtual ~CDeserializerProtocol() = default;
    virtual std::optional<Dictionary> deserializeAsDictionary(const SharedBytes& data, Error* outError = nullptr) const = 0;
};

} // namespace json
