# SPDX-License-Identifier: MIT
# Read by cpack for each generator. The library package's dependencies are
# computed here, by dpkg-shlibdeps on the built library, instead of by
# CPack's own pass: that pass would also give the package maintainer
# scripts that call ldconfig, and a package with a postrm stays in dpkg's
# list after apt-get remove until it is purged. The package's ldconfig
# trigger does that work instead.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(work ${CPACK_PACKAGE_DIRECTORY}/library-depends)
    file(REMOVE_RECURSE ${work})
    file(MAKE_DIRECTORY ${work}/debian)
    file(WRITE ${work}/debian/control "")
    execute_process(COMMAND dpkg-shlibdeps -O ${CPACK_STROVIA_LIBRARY}
                    WORKING_DIRECTORY ${work}
                    OUTPUT_VARIABLE shlibdeps ERROR_VARIABLE errors RESULT_VARIABLE failed)
    if(failed OR NOT shlibdeps MATCHES "shlibs:Depends=([^\n]*)")
        message(FATAL_ERROR "dpkg-shlibdeps on ${CPACK_STROVIA_LIBRARY} failed: ${errors}")
    endif()
    string(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ", ${CMAKE_MATCH_1}")
    file(REMOVE_RECURSE ${work})
endif()
