#pragma once
// Load failures of the engines, told in the handheld's loader codes
// (WebEngine.h): from curl's result codes (the headless engine) and from the
// network error codes of the Chromium-based engine with their domain (the Qt
// engine). Anything without a closer match is WebErrorUnknown.
namespace kit {

int webErrorForCurlCode(int curlCode);

enum class NetErrorDomain { Internal, Connection, Certificate, Http, Ftp, Dns };
int webErrorForNetError(NetErrorDomain domain, int netError);

} // namespace kit
