# Text measuring for kit's drawing: fontconfig finds the face, FreeType measures it.
find_package(Fontconfig REQUIRED)
find_package(Freetype REQUIRED)
target_link_libraries(quorvane_kit PUBLIC Fontconfig::Fontconfig Freetype::Freetype)
