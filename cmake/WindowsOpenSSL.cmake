# OpenSSL for the Windows cross builds: the static libraries that
# scripts/build-openssl-windows.sh builds from Debian's source package.
# Included before find_package(OpenSSL), it points FindOpenSSL at that build:
#   TOLVANE_WINDOWS_OPENSSL_ROOT  the script's PREFIX (default: openssl in the
#                                 build folder, e.g. build/win64/openssl)
# FindOpenSSL then gives OpenSSL::SSL and OpenSSL::Crypto, which bring the
# Windows libraries a static OpenSSL needs (ws2_32, crypt32).

set(TOLVANE_WINDOWS_OPENSSL_ROOT "${CMAKE_BINARY_DIR}/openssl"
  CACHE PATH "OpenSSL built for this Windows target by scripts/build-openssl-windows.sh")

if(NOT EXISTS "${TOLVANE_WINDOWS_OPENSSL_ROOT}/lib/libssl.a"
   OR NOT EXISTS "${TOLVANE_WINDOWS_OPENSSL_ROOT}/include/openssl/ssl.h")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_tolvane_openssl_target x86_64-w64-mingw32)
  else()
    set(_tolvane_openssl_target i686-w64-mingw32)
  endif()
  message(FATAL_ERROR "No OpenSSL for Windows in ${TOLVANE_WINDOWS_OPENSSL_ROOT}. Build it with:\n"
    "  scripts/build-openssl-windows.sh ${_tolvane_openssl_target} ${TOLVANE_WINDOWS_OPENSSL_ROOT}")
endif()

set(OPENSSL_ROOT_DIR "${TOLVANE_WINDOWS_OPENSSL_ROOT}")
set(OPENSSL_USE_STATIC_LIBS TRUE)
# The cross toolchain searches libraries and headers only below its find
# roots; the OpenSSL build is one of them.
list(APPEND CMAKE_FIND_ROOT_PATH "${TOLVANE_WINDOWS_OPENSSL_ROOT}")
