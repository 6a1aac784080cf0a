# Debian packages: cpack -G DEB in a build tree (installed under /usr).
#   libtolvane0     the shared library
#   libtolvane-dev  header, link name, CMake package and pkg-config file
#   tolvane         the tolvane command, its man page and example configurations
# Run-time dependencies (Debian's libssl3 among them) come from dpkg-shlibdeps.
# A Windows build makes a ZIP instead (WindowsPackage.cmake).
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackage.cmake)
  return()
endif()
set(TOLVANE_DEBIAN_REVISION 1)
set(TOLVANE_RUNTIME_PACKAGE libtolvane${PROJECT_VERSION_MAJOR})

# Every package carries the machine-readable copyright and the Debian
# changelog (compressed without name or time stamp, as Debian wants it).
set(changelog_gz ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
                OUTPUT_FILE ${changelog_gz} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot compress the Debian changelog")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
foreach(pair runtime:${TOLVANE_RUNTIME_PACKAGE} dev:libtolvane-dev tool:tolvane)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane developers")
set(CPACK_PACKAGE_CONTACT "Tolvane developers <dev@tolvane.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TOLVANE_DEBIAN_REVISION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # the shlibs file of the library package
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs through a trigger, as Debian wants it (CPack's own postinst
# and postrm call it as well, which is redundant but harmless).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
# The command's own library is not installed yet where dpkg-shlibdeps looks.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${TOLVANE_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtolvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tolvane)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
# Packages of one build belong together.
set(same_build "${TOLVANE_RUNTIME_PACKAGE} (= ${PROJECT_VERSION}-${TOLVANE_DEBIAN_REVISION})")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${same_build}")
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${same_build}")
# First line: the summary; the rest: the description.
set(about "Tolvane is the communication library that the host application of a
self-service terminal uses to exchange its messages with a remote party over
TCP, as a client that reconnects and fails over between hosts or as a
one-peer server, in seven framings, optionally over TLS or WebSocket, with
per-day trace files.")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "TCP message library for self-service terminal hosts
${about}
.
This package holds the shared library.")
set(CPACK_DEBIAN_DEV_DESCRIPTION "development files of the Tolvane TCP message library
${about}
.
This package holds the header, the CMake package Tolvane and the pkg-config
file tolvane needed to build a host.")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "command-line client, echo server and trace reader for Tolvane
${about}
.
This package holds the tolvane command: a client and a server to try out a
terminal host or its peer, a self-checking demonstration and a reader of
scrambled trace files, with example configurations.")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/InstalledSize.cmake)
include(CPack)
