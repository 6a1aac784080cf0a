# OpenSSL for the Windows cross builds: the static libraries that
# scripts/build-openssl-windows.sh builds from Debian's source package.
#   TOLVANE_WINDOWS_OPENSSL_ROOT  the script's PREFIX (default: openssl in the
#                                 build folder, e.g. build/win64/openssl)
#   TOLVANE_WITH_TLS              ON by default when that build is there at
#                                 the first configure; OFF builds without TLS
# With TLS on it points FindOpenSSL at the build, whose OpenSSL::SSL and
# OpenSSL::Crypto then bring the Windows libraries a static OpenSSL needs.

set(TOLVANE_WINDOWS_OPENSSL_ROOT "${CMAKE_BINARY_DIR}/openssl"
  CACHE PATH "OpenSSL built for this Windows target by scripts/build-openssl-windows.sh")
if(EXISTS "${TOLVANE_WINDOWS_OPENSSL_ROOT}/lib/libssl.a"
   AND EXISTS "${TOLVANE_WINDOWS_OPENSSL_ROOT}/include/openssl/ssl.h")
  set(_tolvane_openssl_built ON)
else()
  set(_tolvane_openssl_built OFF)
endif()
option(TOLVANE_WITH_TLS "Build TLS support with OpenSSL" ${_tolvane_openssl_built})

if(TOLVANE_WITH_TLS)
  if(NOT _tolvane_openssl_built)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(_tolvane_openssl_target x86_64-w64-mingw32)
    else()
      set(_tolvane_openssl_target i686-w64-mingw32)
    endif()
    message(FATAL_ERROR "No OpenSSL for Windows in ${TOLVANE_WINDOWS_OPENSSL_ROOT}. Build it with:\n"
      "  scripts/build-openssl-windows.sh ${_tolvane_openssl_target} ${TOLVANE_WINDOWS_OPENSSL_ROOT}\n"
      "or configure with -DTOLVANE_WITH_TLS=OFF for a library without TLS.")
  endif()
  set(OPENSSL_ROOT_DIR "${TOLVANE_WINDOWS_OPENSSL_ROOT}")
  set(OPENSSL_USE_STATIC_LIBS TRUE)
  # The cross toolchain searches libraries and headers only below its find
  # roots; the OpenSSL build is one of them.
  list(APPEND CMAKE_FIND_ROOT_PATH "${TOLVANE_WINDOWS_OPENSSL_ROOT}")
endif()
