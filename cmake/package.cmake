# What `cmake --install` lays under the prefix besides the programs, as the
# Debian package (debian/, scripts/package) ships it: the manual pages, the
# icon drawn at the hicolor sizes and the AppStream metadata. The menu entry
# and the SVG icon are installed by shells/qt. Each names the version of
# debian/changelog (cmake/version.cmake).
set(quorvane_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(quorvane_generated ${CMAKE_BINARY_DIR}/packaging)

# The metadata's newest release is the changelog's: software centres show it.
file(STRINGS ${quorvane_packaging}/org.quorvane.Quorvane.metainfo.xml quorvane_release
  REGEX "<release " LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quorvane_packaging}/org.quorvane.Quorvane.metainfo.xml)
if(NOT quorvane_release MATCHES "<release version=\"${QUORVANE_VERSION}\" date=\"${QUORVANE_RELEASE_DATE}\"")
  message(FATAL_ERROR "packaging/org.quorvane.Quorvane.metainfo.xml: its newest release is '${quorvane_release}', "
    "but debian/changelog's is ${QUORVANE_VERSION} of ${QUORVANE_RELEASE_DATE}: add a <release> for it")
endif()
install(FILES ${quorvane_packaging}/org.quorvane.Quorvane.metainfo.xml DESTINATION share/metainfo)

# The manual pages carry the version and the month of the release, and are
# compressed as Debian wants them (gzip -9n: no name or time stamp, so the
# package is reproducible).
set(quorvane_generated_files)
set(QUORVANE_PROGRAMS quorvane-headless quorvane-json adnet)
if(QUORVANE_QT)
  list(PREPEND QUORVANE_PROGRAMS quorvane)
endif()
foreach(page IN LISTS QUORVANE_PROGRAMS)
  configure_file(${quorvane_packaging}/man/${page}.1.in ${quorvane_generated}/man/${page}.1 @ONLY)
  set(out ${quorvane_generated}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND sh -c "gzip -9n < '${quorvane_generated}/man/${page}.1' > '${out}'"
    DEPENDS ${quorvane_generated}/man/${page}.1
    COMMENT "Compressing the manual page ${page}(1)" VERBATIM)
  list(APPEND quorvane_generated_files ${out})
  install(FILES ${out} DESTINATION share/man/man1)
endforeach()

set(QUORVANE_ICON_SIZES 16 22 24 32 48 64 128 256 512)
find_program(QUORVANE_RSVG_CONVERT rsvg-convert)
if(QUORVANE_QT AND QUORVANE_RSVG_CONVERT)
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
elseif(QUORVANE_QT)
  message(STATUS "rsvg-convert not found (librsvg2-bin): the icon is installed as SVG only")
endif()
add_custom_target(quorvane_package_files ALL DEPENDS ${quorvane_generated_files})
