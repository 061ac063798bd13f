#include "QtTestSupport.h"

#include <cstdlib>
#include <stdexcept>

std::string makeTempDir()
{
    char pattern[] = "/tmp/quorvane-qt-test-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}
