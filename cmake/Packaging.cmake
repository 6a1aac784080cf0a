# Debian packages: cpack -G DEB in a build tree (installed under /usr).
#   libtolvane0     the shared library
#   libtolvane-dev  header, link name, CMake package and pkg-config file
#   tolvane         the tolvane command
# Run-time dependencies (Debian's libssl3 among them) come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane developers <tolvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP message library for self-service terminal hosts")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)  # shlibs file and ldconfig trigger
# The command's own library is not installed yet where dpkg-shlibdeps looks.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtolvane${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtolvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tolvane)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
# Packages of one build belong together.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libtolvane${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libtolvane${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Tolvane: TCP message library for self-service terminal hosts")
set(CPACK_COMPONENT_DEV_DESCRIPTION "Tolvane: header, CMake package and pkg-config file")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "Tolvane: the tolvane command (client, demo, trace reader)")
include(CPack)
