#pragma once
// The welcome page that ships with the application (web/welcome.html, built
// in): the welcome tab shows it when its own address cannot be loaded.
extern const char* const welcomePageHTML;
