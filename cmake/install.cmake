# What `cmake --install` puts under the prefix: the widget library and its
# headers, the "mt" narration beside it, a CMake package config
# (find_package(Strovia)), a pkg-config file, the programs, and the
# Designer plugin. The target strovia_installed builds all of it, so an
# install never meets a piece that was not built.
# Each piece belongs to a component, one for each Debian package
# (cmake/packaging.cmake): runtime (the library and "mt"), development
# (headers, CMake and pkg-config files, the Designer plugin) and programs.
include(CMakePackageConfigHelpers)

if(NOT TARGET strovia_widget)
    return()
endif()

set(STROVIA_DESIGNER_DIR ${CMAKE_INSTALL_LIBDIR}/qt6/plugins/designer
    CACHE STRING "Where the Qt Designer plugin is installed, under the prefix")
# Off where the library lands in the system's search path (the Debian
# package): a run path there would only get in the loader's way.
option(STROVIA_INSTALL_RPATH "Installed programs find libstrovia relative to themselves" ON)

set_target_properties(strovia_widget PROPERTIES EXPORT_NAME strovia)
install(TARGETS strovia_widget EXPORT StroviaTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                COMPONENT runtime NAMELINK_COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/qt/include/strovia
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development
        FILES_MATCHING PATTERN "*.hpp")
if(TARGET strovia_mt)
    # Catalogues name "mt" for a narration that lies beside the library.
    install(FILES ${STROVIA_MT_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)
endif()
install(EXPORT StroviaTargets NAMESPACE Strovia::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Strovia COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/StroviaConfig.cmake.in
    ${PROJECT_BINARY_DIR}/StroviaConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Strovia)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/StroviaConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/StroviaConfig.cmake
              ${PROJECT_BINARY_DIR}/StroviaConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Strovia COMPONENT development)

# Relative to the .pc file, so that the installed tree can move.
file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/strovia.pc.in ${PROJECT_BINARY_DIR}/strovia.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/strovia.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# Installed programs and the plugin find libstrovia relative to themselves,
# wherever the prefix is.
file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH plugin_to_lib /${STROVIA_DESIGNER_DIR} /${CMAKE_INSTALL_LIBDIR})
set(programs strovia)
if(TARGET strovia-player)
    list(APPEND programs strovia-player)
endif()
if(STROVIA_INSTALL_RPATH)
    # `strovia play` hosts the control, `list` and `check` read courses, through libstrovia.
    set_target_properties(${programs} PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
endif()
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
add_custom_target(strovia_installed)
add_dependencies(strovia_installed ${programs} strovia_widget)
if(TARGET strovia_mt)
    add_dependencies(strovia_installed strovia_mt)
endif()
if(TARGET strovia_designer)
    add_dependencies(strovia_installed strovia_designer)
    if(STROVIA_INSTALL_RPATH)
        set_target_properties(strovia_designer PROPERTIES INSTALL_RPATH "$ORIGIN/${plugin_to_lib}")
    endif()
    install(TARGETS strovia_designer LIBRARY DESTINATION ${STROVIA_DESIGNER_DIR}
            COMPONENT development)
endif()
