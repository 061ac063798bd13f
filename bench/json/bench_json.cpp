// Reads the same two inputs with our deserializer and with three well-known
// JSON libraries, prints MB/s for each and the ratio of ours to RapidJSON.
//   typical ad answer: a small object like the ad server's answer
//   nested 1 MB:       nested objects and lists with escaped strings and numbers

#include "json/CJSONDeserializer.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <simdjson.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

namespace {

std::string adAnswer()
{
    return R"({"text":"Fresh torrents, faster: try the new client","6":"web","8":"deal-of-the-day",)"
           R"("url":"http://ads.example.test/click?id=4711&pub=a1b2c3d4e5","jsonp_url":"http://ads.example.test/jsonp?id=4711",)"
           R"("img":"http://ads.example.test/static/iphone/img/banner.png","w":320,"h":48,"score":0.8125,"test":false})";
}

// Deterministic, about 1 MB: objects of lists of objects, with escapes
// (quotes, backslashes, \n, \u00e9, surrogate pairs), integers, fractions and
// exponents.
std::string nestedDocument()
{
    std::mt19937 random(4711);
    const char* words[] = { "alpha", "beta \\\"quoted\\\"", "caf\\u00e9", "line\\nbreak", "path\\/to\\\\file",
        "smile \\ud83d\\ude00", "plain text here", "tab\\there", "\xC3\xA9t\xC3\xA9" };
    std::string out = "{\"items\":[";
    int item = 0;
    while (out.size() < 1000000) {
        if (item++)
            out += ',';
        out += "{\"id\":" + std::to_string(random() % 100000) + ",\"name\":\"" + words[random() % 9] + "\"";
        out += ",\"price\":" + std::to_string(random() % 10000) + "." + std::to_string(random() % 100);
        out += ",\"ratio\":" + std::to_string(random() % 1000) + "e-" + std::to_string(random() % 20);
        out += ",\"tags\":[";
        for (int t = 0, n = int(random() % 5); t < n; ++t)
            out += std::string(t ? "," : "") + "\"" + words[random() % 9] + "\"";
        out += "],\"child\":{\"ok\":" + std::string(random() % 2 ? "true" : "false") + ",\"none\":null,\"deep\":[[" +
            std::to_string(random() % 100) + ",-" + std::to_string(random() % 100) + ".5],{\"k\":\"" +
            words[random() % 9] + "\"}]}}";
    }
    out += "]}";
    return out;
}

const std::string& input(int which)
{
    static const std::string inputs[] = { adAnswer(), nestedDocument() };
    return inputs[which];
}

const char* inputName(int which) { return which == 0 ? "typical ad answer" : "nested 1 MB"; }

void setBytes(benchmark::State& state, const std::string& s)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
    state.SetLabel(inputName(int(state.range(0))));
}

void Quorvane(benchmark::State& state)
{
    const std::string& s = input(int(state.range(0)));
    auto bytes = std::make_shared<const json::Bytes>(s.begin(), s.end());
    const auto deserializer = json::CJSONDeserializer::deserializer();
    for (auto _ : state) {
        auto value = deserializer.deserialize(bytes);
        if (!value) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
    setBytes(state, s);
}

void Nlohmann(benchmark::State& state)
{
    const std::string& s = input(int(state.range(0)));
    for (auto _ : state) {
        auto value = nlohmann::json::parse(s, nullptr, false);
        if (value.is_discarded()) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
    setBytes(state, s);
}

void RapidJSON(benchmark::State& state)
{
    const std::string& s = input(int(state.range(0)));
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(s.data(), s.size());
        if (document.HasParseError()) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    setBytes(state, s);
}

void Simdjson(benchmark::State& state)
{
    const std::string& s = input(int(state.range(0)));
    simdjson::padded_string padded(s);
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element element;
        if (parser.parse(padded).get(element)) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(element);
    }
    setBytes(state, s);
}

BENCHMARK(Quorvane)->Arg(0)->Arg(1);
BENCHMARK(Nlohmann)->Arg(0)->Arg(1);
BENCHMARK(RapidJSON)->Arg(0)->Arg(1);
BENCHMARK(Simdjson)->Arg(0)->Arg(1);

// Keeps MB/s per reader and input as the runs are reported, for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration || run.cpu_accumulated_time <= 0)
                continue;
            const std::string name = run.run_name.function_name;
            const int which = run.run_name.args == "0" ? 0 : 1;
            const double mbPerSecond =
                double(input(which).size()) * double(run.iterations) / run.cpu_accumulated_time / 1e6;
            speeds[which][name] = mbPerSecond;
        }
    }
    std::map<std::string, double> speeds[2];
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nMB/s per reader (10^6 bytes per CPU second, the same bytes for every reader):\n");
    for (int which = 0; which < 2; ++which) {
        std::printf("  %s (%zu bytes):\n", inputName(which), input(which).size());
        for (const auto& [name, speed] : reporter.speeds[which])
            std::printf("    %-10s %10.1f MB/s\n", name.c_str(), speed);
        auto ours = reporter.speeds[which].find("Quorvane");
        auto rapid = reporter.speeds[which].find("RapidJSON");
        auto nlohmann = reporter.speeds[which].find("Nlohmann");
        if (ours != reporter.speeds[which].end() && rapid != reporter.speeds[which].end())
            std::printf("    ratio ours/RapidJSON: %.2f\n", ours->second / rapid->second);
        if (ours != reporter.speeds[which].end() && nlohmann != reporter.speeds[which].end())
            std::printf("    ratio ours/nlohmann-json: %.2f\n", ours->second / nlohmann->second);
    }
    return 0;
}
