#include "json/Error.h"

namespace json {

std::string Error::description() const
{
    if (localizedDescription)
        return *localizedDescription;
    return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

} // namespace json
