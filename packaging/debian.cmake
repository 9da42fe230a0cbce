# The Debian package, one for everything: cd build && cpack makes
# kalo-rs232c_<version>-<release>_<arch>.deb with the program, its manual page, the example
# profiles and the Python package for Debian's own python3. Included before src/, whose
# install rules take the library folder chosen here.

include(GNUInstallDirs)
# The device library is preloaded by its path, never looked up: in the multiarch folder, as
# Debian keeps a program's private libraries, ldconfig has no business with it (below
# /usr/lib itself CPack would add ldconfig calls to the maintainer scripts).
set(KALO_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/kalo_rs232c)
if(CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_LIBDIR STREQUAL "lib")
    set(KALO_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/kalo_rs232c)
endif()

set(KALO_DEBIAN_RELEASE 1)
set(KALO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kalo-rs232c)
set(KALO_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)

# The changelog is kept by hand; its newest entry has to be the version the package says it
# is, or dpkg and lintian would read two versions.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/changelog)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog KALO_CHANGELOG_TOP LIMIT_COUNT 1)
string(REPLACE "." "\\." KALO_VERSION_PATTERN "${PROJECT_VERSION}-${KALO_DEBIAN_RELEASE}")
if(NOT KALO_CHANGELOG_TOP MATCHES "^kalo-rs232c \\(${KALO_VERSION_PATTERN}\\) ")
    message(FATAL_ERROR "packaging/changelog: the newest entry is not for "
                        "${PROJECT_VERSION}-${KALO_DEBIAN_RELEASE}: ${KALO_CHANGELOG_TOP}")
endif()

# Debian wants it compressed with no name or time in the gzip header (-n), so that two
# builds of the same source give the same bytes.
find_program(GZIP gzip REQUIRED)
set(KALO_CHANGELOG ${KALO_PACKAGING_DIR}/changelog.Debian)
add_custom_command(OUTPUT ${KALO_CHANGELOG}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/changelog ${KALO_CHANGELOG}
    COMMAND ${GZIP} -n -9 -f ${KALO_CHANGELOG}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
    COMMENT "Compressing the Debian changelog")
add_custom_target(kalo_debian_changelog ALL DEPENDS ${KALO_CHANGELOG}.gz)
install(FILES ${KALO_CHANGELOG}.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${KALO_DOC_DIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/profiles DESTINATION ${KALO_DOC_DIR}/examples)
# The host example needs no conftest.py once the package is installed: the entry point
# loads the fixture.
install(FILES ${PROJECT_SOURCE_DIR}/examples/test_host_example.py
        DESTINATION ${KALO_DOC_DIR}/examples)

# The tree is laid out in the build folder, never in python/.
find_program(KALO_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(KALO_DEBIAN_PYTHON3)
    execute_process(COMMAND ${KALO_DEBIAN_PYTHON3} -c
                            "import sys; print('python%d.%d' % sys.version_info[:2])"
                    OUTPUT_VARIABLE KALO_PYTHON_NAME OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(KALO_PYTHON_SITE ${KALO_PACKAGING_DIR}/dist-packages)
    file(GLOB KALO_PYTHON_MODULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/python/kalo_rs232c/*.py)
    add_custom_command(OUTPUT ${KALO_PACKAGING_DIR}/dist-packages.stamp
        COMMAND ${KALO_DEBIAN_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/python_site.py
                ${PROJECT_SOURCE_DIR}/python/pyproject.toml ${KALO_PYTHON_SITE}
        COMMAND ${CMAKE_COMMAND} -E touch ${KALO_PACKAGING_DIR}/dist-packages.stamp
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/python_site.py ${PROJECT_SOURCE_DIR}/python/pyproject.toml
                ${KALO_PYTHON_MODULES}
        COMMENT "Laying out the Python package for dist-packages")
    add_custom_target(kalo_python_site ALL DEPENDS ${KALO_PACKAGING_DIR}/dist-packages.stamp)
    # Debian's python3 reads the system's packages from /usr/lib/python3/dist-packages and
    # those installed by hand from /usr/local/lib/python3.X/dist-packages. Only the install
    # knows its prefix (cpack installs below /usr whatever the build was given), so it picks.
    install(CODE "
        if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
            set(KALO_PYTHON_SITE_DIR lib/python3/dist-packages)
        else()
            set(KALO_PYTHON_SITE_DIR lib/${KALO_PYTHON_NAME}/dist-packages)
        endif()")
    install(DIRECTORY ${KALO_PYTHON_SITE}/ DESTINATION \${KALO_PYTHON_SITE_DIR})
else()
    message(STATUS "no /usr/bin/python3: the package goes without the Python package")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalo-rs232c)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KALO_DEBIAN_RELEASE})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "simulator of an RS-232C measuring instrument")
set(CPACK_PACKAGE_DESCRIPTION [=[
kalo_rs232c plays a measuring instrument on a serial line, so that host
software can be tested without the instrument: it answers the host's
commands as the instrument would, on a real port or on a virtual one
(a pseudo-terminal pair) of its own.

Instruments are described by TOML profiles with Lua scripts; SCPI and
Modbus are built in. Run headless, it writes a JSON event stream and takes
requests on a control socket; a recorder relays a real instrument and
writes its profile. The desktop window is in Japanese.

The package holds example profiles and the Python package kalo_rs232c,
whose pytest plugin gives tests a kalo fixture that runs the simulator.]=])
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "kalo_rs232c developers <kalo-rs232c@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the binary really links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program itself runs without Python; python3 and pyserial serve the Python package's
# harness, and the windows are Japanese: without a gothic font they show boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-serial, fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pytest")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Whatever the umask of the build, the folders are the ones every package has.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
