# Installs the build into a scratch prefix, then configures, builds and runs a
# tiny host against the installed CMake package and checks the pkg-config file.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
foreach(f include/tolvane/Tolvane.h lib/libtolvane.so lib/pkgconfig/tolvane.pc lib/cmake/Tolvane/TolvaneConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "missing after install: ${f}")
  endif()
endforeach()

# A sanitized library needs the host linked with the same sanitizer runtime.
set(host_flags "")
if(SANITIZE)
  set(host_flags "-fsanitize=${SANITIZE}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/host -B ${WORK_DIR}/host
                  -G Ninja -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix}
                  "-DCMAKE_CXX_FLAGS=${host_flags}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "host configure failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/host RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "host build failed")
endif()
execute_process(COMMAND ${WORK_DIR}/host/tiny_host RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "host run failed: ${out}")
endif()

execute_process(COMMAND env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config --libs --cflags tolvane
                RESULT_VARIABLE rc OUTPUT_VARIABLE flags)
if(NOT rc EQUAL 0 OR NOT flags MATCHES "-ltolvane")
  message(FATAL_ERROR "pkg-config does not know tolvane: ${flags}")
endif()
message(STATUS "installed package works: ${out}")
