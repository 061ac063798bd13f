#include "kit/core/Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace kit {
namespace {
LogSink& sink()
{
    static LogSink s;
    return s;
}
} // namespace

LogSink setLogSink(LogSink s)
{
    auto old = std::move(sink());
    sink() = std::move(s);
    return old;
}

void log(std::string_view line)
{
    std::string text(line);
    if (sink() && sink()(text))
        return;
    auto now = std::chrono::system_clock::now();
    auto secs = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm {};
    localtime_r(&secs, &tm);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::fprintf(stderr, "%s.%03d Quorvane[%d] %s\n", stamp, int(ms), int(getpid()), text.c_str());
    std::fflush(stderr);
}

} // namespace kit
