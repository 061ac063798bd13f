# The Debian package (scripts/package runs cpack): the programs, the menu
# entry, the icon (SVG and PNG in the hicolor sizes), the AppStream metadata,
# the manual pages, the copyright file and the changelog under /usr, and the
# Debian packages they need. Library dependencies (the Qt libraries among
# them) come from dpkg-shlibdeps; what the programs load or run without
# linking it is listed.

# Debian's revision of the package: the changelog's newest entry must name
# this version, or the package would contradict its own history.
set(QUORVANE_DEBIAN_REVISION 1)
set(QUORVANE_DEBIAN_VERSION ${PROJECT_VERSION}-${QUORVANE_DEBIAN_REVISION})
set(quorvane_packaging ${PROJECT_SOURCE_DIR}/packaging)
file(STRINGS ${quorvane_packaging}/changelog quorvane_changelog_top LIMIT_COUNT 1)
if(NOT quorvane_changelog_top MATCHES "^quorvane \\(${QUORVANE_DEBIAN_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with '${quorvane_changelog_top}', "
    "not with an entry for quorvane ${QUORVANE_DEBIAN_VERSION}: add one")
endif()

# Generated pieces: manual pages and the changelog compressed as Debian wants
# them (gzip -9n: no name or time stamp, so the package is reproducible), and
# the icon drawn at the usual hicolor sizes from its SVG.
set(quorvane_generated ${CMAKE_BINARY_DIR}/packaging)
set(quorvane_generated_files)
foreach(page quorvane quorvane-headless quorvane-json)
  set(out ${quorvane_generated}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${quorvane_generated}/man
    COMMAND sh -c "gzip -9n < '${quorvane_packaging}/man/${page}.1' > '${out}'"
    DEPENDS ${quorvane_packaging}/man/${page}.1
    COMMENT "Compressing the manual page ${page}(1)" VERBATIM)
  list(APPEND quorvane_generated_files ${out})
  install(FILES ${out} DESTINATION share/man/man1)
endforeach()

set(out ${quorvane_generated}/changelog.Debian.gz)
add_custom_command(OUTPUT ${out}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${quorvane_generated}
  COMMAND sh -c "gzip -9n < '${quorvane_packaging}/changelog' > '${out}'"
  DEPENDS ${quorvane_packaging}/changelog
  COMMENT "Compressing the Debian changelog" VERBATIM)
list(APPEND quorvane_generated_files ${out})
install(FILES ${out} DESTINATION share/doc/quorvane)
install(FILES ${quorvane_packaging}/copyright DESTINATION share/doc/quorvane)
install(FILES ${quorvane_packaging}/org.quorvane.Quorvane.metainfo.xml DESTINATION share/metainfo)
install(FILES ${quorvane_packaging}/lintian-overrides DESTINATION share/lintian/overrides RENAME quorvane)

set(QUORVANE_ICON_SIZES 16 22 24 32 48 64 128 256 512)
find_program(QUORVANE_RSVG_CONVERT rsvg-convert)
if(QUORVANE_RSVG_CONVERT)
  foreach(size IN LISTS QUORVANE_ICON_SIZES)
    set(out ${quorvane_generated}/icons/${size}x${size}/quorvane.png)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${quorvane_generated}/icons/${size}x${size}
      COMMAND ${QUORVANE_RSVG_CONVERT} --width=${size} --height=${size} --format=png
        --output=${out} ${PROJECT_SOURCE_DIR}/shells/qt/quorvane.svg
      DEPENDS ${PROJECT_SOURCE_DIR}/shells/qt/quorvane.svg
      COMMENT "Drawing the icon at ${size} x ${size}" VERBATIM)
    list(APPEND quorvane_generated_files ${out})
    install(FILES ${out} DESTINATION share/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(STATUS "rsvg-convert not found (librsvg2-bin): the icon is installed as SVG only")
endif()
add_custom_target(quorvane_package_files ALL DEPENDS ${quorvane_generated_files})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the Quorvane developers")
set(CPACK_PACKAGE_CONTACT "Quorvane developers <quorvane@users.noreply.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "touch-screen BitTorrent front end for ctorrent")
# The summary is the synopsis line; the lines below it of at most 80
# columns, as Debian's tools show them unwrapped.
set(CPACK_PACKAGE_DESCRIPTION [=[Quorvane runs a BitTorrent transfer with ctorrent and shows its progress,
rates, state and time left. It lists the downloads folder and acts on its
files, browses torrent sites and keeps the .torrent file behind a followed
link. A .torrent file opened from the desktop goes to the running Quorvane.

The package holds the 320 x 480 window for desktops, phones and Linux
handhelds (quorvane), a headless shell driven by scripts (quorvane-headless)
and the JSON reader of its ad service (quorvane-json).]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUORVANE_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quorvane.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Whatever the builder's umask, directories are as Debian wants them.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# ctorrent is the transfer client run as /usr/bin/ctorrent; the Qt platform
# plugins show the window; the positioning plugins feed the location source;
# the banner measures and draws its text with Nimbus Sans, whose metrics its
# layout is made for. xdg-utils hands links and mail to the desktop.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "ctorrent, qt6-qpa-plugins, libqt6positioning6-plugins, fonts-urw-base35")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
# scripts/package builds what the package holds; installing need not build
# every test and benchmark first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
