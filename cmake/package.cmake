# The Debian package (scripts/package runs cpack): the programs, the menu
# entry, the icon and the welcome page under /usr, and the Debian packages
# they need. Library dependencies (the Qt libraries among them) come from
# dpkg-shlibdeps; what the programs load or run without linking it is listed.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_CONTACT "Quorvane developers <quorvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "touch-screen front end for the ctorrent BitTorrent client")
set(CPACK_PACKAGE_DESCRIPTION
  "Quorvane runs a BitTorrent transfer with ctorrent and shows its progress, lists the downloads folder and acts on its files, browses torrent sites and keeps the .torrent file behind a followed link. A 320 x 480 window for desktops and Linux handhelds, and a headless shell driven by scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ctorrent is the transfer client run as /usr/bin/ctorrent; the Qt platform
# plugins show the window; the positioning plugins feed the location source;
# the labels ask fontconfig for a Helvetica-like sans face.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "ctorrent, qt6-qpa-plugins, libqt6positioning6-plugins, fonts-liberation2 | fonts-dejavu-core")
set(CPACK_STRIP_FILES ON)
include(CPack)
