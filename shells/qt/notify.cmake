# The desktop's notification service over D-Bus (DesktopNotifier.cpp).
find_package(Qt6 REQUIRED COMPONENTS DBus)
target_link_libraries(quorvane_qtshell PUBLIC Qt6::DBus)
