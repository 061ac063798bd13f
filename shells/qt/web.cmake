# QtWebEngine behind kit's web view (QtWebEngine.cpp, WebViewPeer.cpp).
find_package(Qt6 REQUIRED COMPONENTS WebEngineWidgets)
target_link_libraries(quorvane_qtshell PUBLIC Qt6::WebEngineWidgets)
