#include "tests/web/WebTestSupport.h"

#include "web/DownloadViewController.h"
#include "web/FirstViewController.h"

namespace webtest {

std::vector<std::string> applicationPages()
{
    return { DownloadViewController::demonoidPage, DownloadViewController::mininovaPage,
        DownloadViewController::piratebayPage, DownloadViewController::sumoPage, DownloadViewController::extremePage,
        DownloadViewController::litePage, FirstViewController::welcomePageAddress };
}

void mapHosts(int port)
{
    testsupport::mapHosts(port, applicationPages());
}

} // namespace webtest
