#pragma once
// The web tests load the application's start pages and welcome page from the
// loopback page server; the rest they share with every test program.
#include "tests/support/LogCapture.h"
#include "tests/support/PageServer.h"
#include "tests/support/TempFolder.h"

#include <string>
#include <vector>

namespace webtest {

using testsupport::fileExists;
using testsupport::LogCapture;
using testsupport::PageServer;
using testsupport::readFile;
using testsupport::siteAddress;
using testsupport::siteHost;
using testsupport::TempFolder;
using testsupport::waitForLoad;

// The six start pages and the welcome page.
std::vector<std::string> applicationPages();
// Maps the site host and the application's pages to the server's port.
void mapHosts(int port);

class ServedTest : public testsupport::ServedTest {
protected:
    std::vector<std::string> mappedAddresses() const override { return applicationPages(); }
};

} // namespace webtest
