// Runs the quorvane-json program on files and checks its output and exit code.

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#ifdef QUORVANE_JSON_TOOL

namespace {

struct ToolRun {
    std::string output;
    int exitCode = -1;
};

class QuorvaneJsonTool : public testing::Test {
protected:
    std::string write(const std::string& bytes)
    {
        std::string path = m_dir / ("in" + std::to_string(m_count++) + ".json");
        testsupport::writeFile(path, bytes);
        return path;
    }

    static ToolRun run(const std::string& arguments)
    {
        ToolRun result;
        std::string command = std::string("'") + QUORVANE_JSON_TOOL + "' " + arguments + " 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return result;
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            result.output.append(buffer, n);
        int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    testsupport::TempFolder m_dir;
    int m_count = 0;
};

TEST_F(QuorvaneJsonTool, PrintsCanonicalJSON)
{
    ToolRun r = run(write(R"( {"b": [1.50, true, null, "caf\u00e9"], "a": {"y":1e2,"x":-0,},})"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "{\"a\":{\"x\":-0,\"y\":100},\"b\":[1.5,true,null,\"caf\\u00e9\"]}\n");
}

TEST_F(QuorvaneJsonTool, ReportsErrorsOnOneLine)
{
    ToolRun r = run(write("[1 2]"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "error CJSONScannerErrorDomain -9 Could not scan array. Array not terminated by a ']' character.\n");

    r = run("--dict " + write(" {}"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "error CJSONScannerErrorDomain -1 Could not scan dictionary. Dictionary that does not start with '{' character.\n");

    r = run(write(""));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output.rfind("error CJSONDeserializerErrorDomain -1 ", 0), 0u) << r.output;
}

TEST_F(QuorvaneJsonTool, DictionaryModeAndStandardInput)
{
    ToolRun r = run("--dict " + write(R"({"k":"v"} ignored)"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "{\"k\":\"v\"}\n");

    r = run("--dict - < " + write("[1]"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output.rfind("error CJSONScannerErrorDomain -1 ", 0), 0u);

    r = run("- < " + write("\"x\""));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "\"x\"\n");
}

TEST_F(QuorvaneJsonTool, UsageAndUnreadableFiles)
{
    EXPECT_EQ(run("").exitCode, 2);
    EXPECT_EQ(run("--bogus x").exitCode, 2);
    ToolRun r = run(m_dir / "missing.json");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, "");
}

} // namespace

#endif
