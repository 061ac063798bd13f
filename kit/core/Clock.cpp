#include "kit/core/Clock.h"

#include <chrono>

namespace kit {

double RealClock::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace kit
