#pragma once
// Declarations of kit's web layer (the web view and its engines), for headers that
// only name them.

namespace kit {

struct WebLink;
class HeadlessWebEngine;
struct WebError;
class WebEngine;
class WebViewDelegate;
class WebView;

} // namespace kit
