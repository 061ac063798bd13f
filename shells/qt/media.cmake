# Qt Multimedia behind kit's movie player (QtMoviePlayer.cpp).
find_package(Qt6 REQUIRED COMPONENTS Multimedia MultimediaWidgets)
target_link_libraries(quorvane_qtshell PUBLIC Qt6::Multimedia Qt6::MultimediaWidgets)
