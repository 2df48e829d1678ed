# SPDX-License-Identifier: MIT
# What a desktop and Debian need beside the programs and the library: the
# desktop entry, AppStream metadata, the icon, manual pages made from the
# programs' own --help, the licence and changelog of each package, and the
# CPack setup that makes the Debian packages (`cpack -G DEB`, target
# `package`): strovia, libstrovia1 and libstrovia-dev.
# Sanitizer and fuzz builds are never installed or packaged.
if(NOT TARGET strovia_widget OR NOT TARGET strovia-player OR STROVIA_SANITIZE OR STROVIA_FUZZ)
    return()
endif()

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
set(app_id org.strovia.Player)
file(MAKE_DIRECTORY ${pkg_out})
add_custom_target(strovia_desktop_files ALL)
add_dependencies(strovia_installed strovia_desktop_files)

install(FILES ${pkg_src}/${app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT programs)
install(FILES ${pkg_src}/${app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT programs)
install(FILES ${pkg_src}/${app_id}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT programs)

# Bitmap icons for desktops that do not draw SVG, made from the one drawing.
find_program(STROVIA_RSVG_CONVERT rsvg-convert)
if(STROVIA_RSVG_CONVERT)
    foreach(size 16 32 48 64 128 256)
        set(png ${pkg_out}/icons/${size}/${app_id}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/icons/${size}
            COMMAND ${STROVIA_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${pkg_src}/${app_id}.svg
            DEPENDS ${pkg_src}/${app_id}.svg)
        list(APPEND pngs ${png})
        install(FILES ${png}
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                COMPONENT programs)
    endforeach()
    add_custom_target(strovia_icons DEPENDS ${pngs})
    add_dependencies(strovia_desktop_files strovia_icons)
else()
    message(WARNING "rsvg-convert not found: only the SVG icon is installed")
endif()

# Manual pages from the same text as --help, so the two never disagree.
find_program(STROVIA_HELP2MAN help2man)
find_program(STROVIA_GZIP gzip REQUIRED)
if(STROVIA_HELP2MAN)
    set(strovia_summary "the Strovia programme control on the command line")
    set(strovia-player_summary "plays the postures of a course, one by one or as a routine")
    foreach(program strovia strovia-player)
        set(page ${pkg_out}/${program}.1)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${CMAKE_COMMAND} -E env HELP2MAN=${STROVIA_HELP2MAN}
                    sh ${pkg_src}/make-manpage.sh $<TARGET_FILE:${program}> ${PROJECT_VERSION}
                    "${${program}_summary}" ${page}
            COMMAND ${STROVIA_GZIP} -9nf ${page}
            DEPENDS ${program} ${pkg_src}/make-manpage.sh
            COMMENT "Making the manual page ${program}.1")
        list(APPEND pages ${page}.gz)
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
    endforeach()
    add_custom_target(strovia_manpages DEPENDS ${pages})
    add_dependencies(strovia_desktop_files strovia_manpages)
else()
    message(WARNING "help2man not found: no manual pages are made")
endif()

# Every package carries the licence and the changelog, as Debian asks.
set(deb_changelog ${pkg_out}/changelog.Debian.gz)
add_custom_command(OUTPUT ${deb_changelog}
    COMMAND ${STROVIA_GZIP} -9n -c ${pkg_src}/changelog > ${deb_changelog}
    DEPENDS ${pkg_src}/changelog)
add_custom_target(strovia_changelog DEPENDS ${deb_changelog})
add_dependencies(strovia_desktop_files strovia_changelog)

set(STROVIA_PACKAGE_MAINTAINER "The Strovia developers <maintainers@strovia.example>"
    CACHE STRING "The Maintainer field of the Debian packages")
set(deb_runtime libstrovia${PROJECT_VERSION_MAJOR})
set(component_package runtime=${deb_runtime} development=libstrovia-dev programs=strovia)
foreach(pair IN LISTS component_package)
    string(REPLACE "=" ";" pair ${pair})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${pkg_src}/copyright ${deb_changelog}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    string(TOUPPER ${component} C)
    set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${package})
endforeach()

set(CPACK_PACKAGE_NAME strovia)
set(CPACK_PACKAGE_VENDOR "The Strovia developers")
set(CPACK_PACKAGE_CONTACT "${STROVIA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL runtime development programs)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STROVIA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(deb_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
# The programs and the plugin link libstrovia from the build tree; it is
# not in any package yet when their dependencies are computed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/apps)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# Its dependencies come from cmake/cpack_project.cmake (see there why).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)
set(CPACK_STROVIA_LIBRARY
    ${PROJECT_BINARY_DIR}/apps/${CMAKE_SHARED_LIBRARY_PREFIX}strovia${CMAKE_SHARED_LIBRARY_SUFFIX}.${PROJECT_VERSION})
# What programs built against this library depend on: a library of this
# soname from this version on; and the loader's cache renewed by trigger.
file(WRITE ${pkg_out}/shlibs
     "libstrovia ${PROJECT_VERSION_MAJOR} ${deb_runtime} (>= ${PROJECT_VERSION})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${pkg_out}/shlibs ${pkg_src}/triggers)
# The media are decoded by GStreamer's plugins, loaded at run time: MPEG
# program streams (bad), MPEG video (libav or ugly), MPEG audio (good).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav | gstreamer1.0-plugins-ugly")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Strovia programme control, as a Qt 6 widget (library)
The Strovia control plays the postures of a course inside its own window
area: a video cut into segments, each held at its end until its narration
has finished, or a sequence of pictures, each shown while its narration
plays. It reads the course's password-protected catalogue itself.

This package holds the shared library and, beside it, the silent narration
mt.mp2 that catalogues name as mt.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${deb_runtime} (= ${deb_version}), qt6-base-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Strovia programme control, as a Qt 6 widget (development files)
The Strovia control plays the postures of a course inside its own window
area, as videos held at each segment's end until the narration has
finished or as pictures shown while their narrations play.

This package holds the headers, the CMake package (find_package(Strovia)),
the pkg-config file and the Qt Designer plugin that puts the control in
Designer's widget box.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION video)
# Headless runs use Qt's offscreen platform; the export encodes MP4 with
# x264 (ugly) and AAC (libav). The demo course is made with espeak-ng and
# ffmpeg, which a real course does not need.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS
    "${deb_runtime} (= ${deb_version}), qt6-qpa-plugins, gstreamer1.0-plugins-ugly, gstreamer1.0-libav")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_RECOMMENDS "espeak-ng, ffmpeg")
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "course player with segment-held videos and narrated pictures
Strovia plays the postures of a course: a video cut into segments, each
held at its end until its narration has finished, or a sequence of
pictures, each shown while its narration plays.

strovia-player is the window for learners: it lists a course's postures,
plays, previews and composes them into routines. strovia is the command
line: it plays headless, checks a course for what would fail, exports
postures to MP4 or WebM files and makes a small demo course.")

include(CPack)
