#pragma once

#include "json/Forward.h"

#include <string_view>

inline json::SharedBytes bytesOf(std::string_view s)
{
    return std::make_shared<const json::Bytes>(s.begin(), s.end());
}
