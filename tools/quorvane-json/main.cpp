// quorvane-json [--dict] FILE
// Reads FILE (or standard input for "-"), deserializes it and prints the value
// as one line of canonical JSON (exit 0), or "error DOMAIN CODE DESCRIPTION"
// (exit 1). Usage and read failures go to standard error with exit 2.

#include "json/CJSONDeserializer.h"
#include "quorvane/Version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

int usage()
{
    std::fputs("usage: quorvane-json [--dict] FILE   (FILE may be - for standard input)\n"
               "       quorvane-json --version\n", stderr);
    return 2;
}

bool readAll(std::FILE* file, json::Bytes& out)
{
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    return !std::ferror(file);
}

} // namespace

int main(int argc, char** argv)
{
    bool asDictionary = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--dict" && !asDictionary && !path)
            asDictionary = true;
        else if (arg == "--help" || arg == "-h")
            return usage(), 0;
        else if (arg == "--version")
            return std::puts("quorvane-json " QUORVANE_VERSION) < 0;
        else if (!path && (arg == "-" || !arg.starts_with("-")))
            path = argv[i];
        else
            return usage();
    }
    if (!path)
        return usage();

    json::Bytes bytes;
    const bool fromStdin = std::string_view(path) == "-";
    std::FILE* file = fromStdin ? stdin : std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "quorvane-json: cannot open %s: %s\n", path, std::strerror(errno));
        return 2;
    }
    const bool ok = readAll(file, bytes);
    const int readErrno = errno;
    if (!fromStdin)
        std::fclose(file);
    if (!ok) {
        std::fprintf(stderr, "quorvane-json: cannot read %s: %s\n", path, std::strerror(readErrno));
        return 2;
    }

    auto data = std::make_shared<const json::Bytes>(std::move(bytes));
    const auto deserializer = json::CJSONDeserializer::deserializer();
    json::Error error;
    std::optional<json::Value> value;
    if (asDictionary) {
        if (auto dictionary = deserializer.deserializeAsDictionary(data, &error))
            value = json::Value(std::move(*dictionary));
    } else {
        value = deserializer.deserialize(data, &error);
    }
    if (!value) {
        std::string line = "error " + error.domain + " " + std::to_string(error.code) + " " + error.description();
        // Keep the report on one line whatever the description holds.
        for (char& c : line)
            if (c == '\n' || c == '\r')
                c = ' ';
        std::printf("%s\n", line.c_str());
        return 1;
    }
    std::string out = value->canonicalJSON();
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
}
