#include "tests/support/HeadlessRun.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace testsupport {

namespace {
std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
} // namespace

HeadlessRun runHeadless(const std::string& binary, const std::string& root, const std::string& script, HeadlessOptions options)
{
    std::filesystem::create_directories(root);
    auto scriptPath = root + "/script.txt";
    auto errPath = root + "/stderr.txt";
    std::ofstream(scriptPath, std::ios::binary) << script;
    std::string command = shellQuoted(binary) + " --root " + shellQuoted(root) + (options.virtualTime ? " --virtual-time" : "")
        + " --script " + shellQuoted(scriptPath) + (options.mergeErrors ? std::string(" 2>&1") : " 2>" + shellQuoted(errPath));
    HeadlessRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!options.mergeErrors) {
        std::ifstream err(errPath, std::ios::binary);
        std::ostringstream text;
        text << err.rdbuf();
        run.err = text.str();
    }
    return run;
}

} // namespace testsupport
