# Image decoding and PNG encoding for kit's Image.
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
find_package(GIF REQUIRED)
target_link_libraries(quorvane_kit PUBLIC PNG::PNG JPEG::JPEG GIF::GIF)
