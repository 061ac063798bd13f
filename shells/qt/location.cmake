# Qt Positioning behind kit's location source (QtLocationSource.cpp).
find_package(Qt6 REQUIRED COMPONENTS Positioning)
target_link_libraries(quorvane_qtshell PUBLIC Qt6::Positioning)
