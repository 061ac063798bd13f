# HTTP for kit's HttpRequest.
find_package(CURL REQUIRED)
target_link_libraries(quorvane_kit PUBLIC CURL::libcurl)
