# The Windows package: one ZIP per target, made by cpack (or the target
# "package") in the build folder, Tolvane-<version>-win64.zip or -win32.zip,
# holding the installed tree at its top:
#   bin/Tolvane.dll  bin/tolvane.exe  include/tolvane/Tolvane.h
#   lib/libTolvane.dll.a  lib/Tolvane.def  lib/cmake/Tolvane/  lib/pkgconfig/
#   examples/  README.txt  LICENSE.txt  [OpenSSL-LICENSE.txt]
# TOLVANE_OPENSSL_LICENSE names OpenSSL's license file, which goes into the
# package whenever the DLL links OpenSSL; by default that of the OpenSSL
# build in TOLVANE_WINDOWS_OPENSSL_ROOT.
set(TOLVANE_OPENSSL_LICENSE_LINE "")
set(TOLVANE_TLS_NOTE "
- This build has no TLS: with UseSSL=1 the start fails, and the trace says
  \"UseSSL=1 refused: this build of the library has no TLS support\".")
if(TOLVANE_HAVE_TLS)
  set(default_license "")
  if(TOLVANE_WINDOWS_OPENSSL_ROOT)
    set(default_license ${TOLVANE_WINDOWS_OPENSSL_ROOT}/LICENSE.txt)
  endif()
  set(TOLVANE_OPENSSL_LICENSE "${default_license}" CACHE FILEPATH "License of the OpenSSL linked into Tolvane.dll")
  if(NOT EXISTS "${TOLVANE_OPENSSL_LICENSE}")
    message(FATAL_ERROR "The DLL links OpenSSL, whose license must go into the package: "
      "no file TOLVANE_OPENSSL_LICENSE=\"${TOLVANE_OPENSSL_LICENSE}\"")
  endif()
  install(FILES ${TOLVANE_OPENSSL_LICENSE} DESTINATION . RENAME OpenSSL-LICENSE.txt COMPONENT runtime)
  set(TOLVANE_OPENSSL_LICENSE_LINE
    "  OpenSSL-LICENSE.txt         OpenSSL's license (OpenSSL is linked into Tolvane.dll)\n")
  set(TOLVANE_TLS_NOTE "")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/README.txt.in ${PROJECT_BINARY_DIR}/README.txt @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION . COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/src/interface/Tolvane.def DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane developers")
set(CPACK_PACKAGE_FILE_NAME Tolvane-${PROJECT_VERSION}-${TOLVANE_WINDOWS_TARGET})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
