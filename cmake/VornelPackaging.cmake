# Installing and packaging. `cmake --install` lays out a player under any prefix:
#
#   <prefix>/lib/vornel/                   the program folder: vornel, libbass.so and the bundled
#                                          stations.dat, as a build's bin/ holds them
#   <prefix>/bin/vornel                    a symbolic link to the program; the player finds its folder
#                                          through /proc/self/exe, which names the link's target
#   <prefix>/share/applications/vornel.desktop
#   <prefix>/share/icons/hicolor/<n>x<n>/apps/vornel.png, .../scalable/apps/vornel.svg
#   <prefix>/share/metainfo/io.github.vornel.Vornel.metainfo.xml
#   <prefix>/share/doc/vornel/copyright
#
# A program folder the user cannot write (a system prefix) keeps the cache and the recordings in
# the user's XDG folders (src/core/data_places.h); one the user can write (say ~/.local) is a
# portable player, which records into REC beside the program, so the install makes that folder.
# CPack turns the same tree, under /usr and without REC, into a Debian package.

include(GNUInstallDirs)

set(VORNEL_INSTALL_PROGRAM_DIR "lib/vornel" CACHE STRING "The program folder, below the install prefix")
set(VORNEL_PACKAGE_MAINTAINER "Vornel developers <vornel@example.org>" CACHE STRING
    "Maintainer field of the Debian package")
# The desktop file keeps the program's name, which the media-player interface reports as its
# desktop entry; the AppStream id is the reverse-DNS name software centres expect.
set(VORNEL_APP_ID "io.github.vornel.Vornel")
# The day PROJECT_VERSION was released, for the metainfo and the package's changelog; it moves
# with project(VERSION).
set(VORNEL_RELEASE_DATE "2026-12-08")
set(VORNEL_RELEASE_DATE_RFC2822 "Tue, 08 Dec 2026 12:00:00 +0000")

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME vornel)

install(TARGETS vornel RUNTIME DESTINATION "${VORNEL_INSTALL_PROGRAM_DIR}")
install(TARGETS bass LIBRARY DESTINATION "${VORNEL_INSTALL_PROGRAM_DIR}")
install(FILES "${PROJECT_SOURCE_DIR}/directory/client/stations.php"
        DESTINATION "${VORNEL_INSTALL_PROGRAM_DIR}" RENAME stations.dat)
install(DIRECTORY DESTINATION "${VORNEL_INSTALL_PROGRAM_DIR}/REC" COMPONENT portable)

# The link is made in the build tree and installed as a link, so it shows in the install manifest.
file(RELATIVE_PATH vornel_link_target "/${CMAKE_INSTALL_BINDIR}" "/${VORNEL_INSTALL_PROGRAM_DIR}/vornel")
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/install-links")
file(CREATE_LINK "${vornel_link_target}" "${CMAKE_BINARY_DIR}/install-links/vornel" SYMBOLIC)
install(FILES "${CMAKE_BINARY_DIR}/install-links/vornel" DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(FILES "${PROJECT_SOURCE_DIR}/packaging/vornel.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
# The skin's icon sizes, and the sizes only the icon theme wants (assets/icons), all from
# assets/skin/src/icon.svg.
foreach(size 16 24 32 48 64 128 256)
  set(png "${PROJECT_SOURCE_DIR}/assets/skin/icon_${size}.png")
  if(NOT EXISTS "${png}")
    set(png "${PROJECT_SOURCE_DIR}/assets/icons/icon_${size}.png")
  endif()
  install(FILES "${png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps" RENAME vornel.png)
endforeach()
install(FILES "${PROJECT_SOURCE_DIR}/assets/icons/vornel.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
configure_file("${PROJECT_SOURCE_DIR}/packaging/${VORNEL_APP_ID}.metainfo.xml.in"
               "${CMAKE_BINARY_DIR}/packaging/${VORNEL_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/packaging/${VORNEL_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/vornel")
# Debian wants a changelog with every package; gzip -n keeps the file the same from build to build.
configure_file("${PROJECT_SOURCE_DIR}/packaging/changelog.in" "${CMAKE_BINARY_DIR}/packaging/changelog" @ONLY)
find_program(VORNEL_GZIP gzip)
if(VORNEL_GZIP)
  execute_process(COMMAND "${VORNEL_GZIP}" -9nc "${CMAKE_BINARY_DIR}/packaging/changelog"
                  OUTPUT_FILE "${CMAKE_BINARY_DIR}/packaging/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
  install(FILES "${CMAKE_BINARY_DIR}/packaging/changelog.gz" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/vornel")
endif()

# The Debian package: `cpack` in the build tree (or `cmake --build <build> --target package`).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornel)
set(CPACK_PACKAGE_VENDOR "Vornel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "internet radio player with a station directory and recording")
set(CPACK_PACKAGE_DESCRIPTION
    "Vornel plays internet radio: it fetches a directory of stations, grouped by\n"
    "genre or country, shows the track now playing and records each track into a\n"
    "file of its own. Stations in MP3, AAC, Ogg Vorbis and Opus, HLS and playlist\n"
    "addresses play over HTTP and HTTPS. The window is skinned and speaks Russian.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The one component, so REC stays out: it is only for a program folder the user owns.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};vornel;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORNEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps finds the libraries both ELF files link; what is loaded at run time is named
# here: Qt's platform plugins (X11 among them), the skin's fonts (condensed face included),
# libcurl (opened for https stations only) with the certificate store they are checked against,
# and SDL2 (opened where no sound server runs).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core, fonts-dejavu-extra, libcurl4 (>= 7.84), libsdl2-2.0-0, ca-certificates")
include(CPack)
