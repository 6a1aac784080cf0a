# Shared by the install and package checks: given an installed tree under
# PREFIX (with its library folder LIBDIR), builds and runs a tiny host against
# its CMake package, checks its pkg-config file, runs its tolvane command
# (usage: exit code 2), which must find the library by its run path unless
# SYSTEM_LAYOUT says it was made for /usr (then it has none), and runs the
# README's host example against the installed echo server.
# A Windows build passes TOOLCHAIN (the host is cross compiled with it) and
# EMULATOR ("|"-separated command that runs Windows programs; empty: the host
# and the command are built and checked but not run).
function(tolvane_check_tree prefix libdir work)
  set(system_layout "${ARGV3}")
  # A sanitized library needs the host linked with the same sanitizer runtime.
  set(host_flags "")
  if(SANITIZE)
    set(host_flags "-fsanitize=${SANITIZE}")
  endif()
  set(host_args -DCMAKE_CXX_COMPILER=${CXX})
  set(exe "")
  if(TOOLCHAIN)
    # The toolchain searches packages below the target's root only, so the
    # package folder is named outright.
    set(host_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DTolvane_DIR=${prefix}/${libdir}/cmake/Tolvane)
    set(exe .exe)
  endif()
  string(REPLACE "|" ";" emulator "${EMULATOR}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/host -B ${work}/host
                    -G Ninja ${host_args} -DCMAKE_PREFIX_PATH=${prefix}
                    "-DCMAKE_CXX_FLAGS=${host_flags}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "host configure failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${work}/host RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "host build failed")
  endif()

  execute_process(COMMAND env PKG_CONFIG_PATH=${prefix}/${libdir}/pkgconfig pkg-config --libs --cflags tolvane
                  RESULT_VARIABLE rc OUTPUT_VARIABLE flags)
  if(NOT rc EQUAL 0 OR NOT flags MATCHES "-l[Tt]olvane")
    message(FATAL_ERROR "pkg-config does not know tolvane: ${flags}")
  endif()

  if(TOOLCHAIN AND NOT emulator)
    message(STATUS "installed tree builds a host (no emulator to run it)")
    return()
  endif()
  execute_process(COMMAND ${emulator} ${work}/host/tiny_host${exe} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "host run failed: ${out}")
  endif()
  # LD_LIBRARY_PATH must not be what finds the library, unless the command
  # was made for /usr, where the system's folders hold it.
  set(library_path -u LD_LIBRARY_PATH)
  if(system_layout)
    set(library_path LD_LIBRARY_PATH=${prefix}/${libdir})
  endif()
  execute_process(COMMAND env ${library_path} ${emulator} ${prefix}/bin/tolvane${exe}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 2 OR NOT err MATCHES "usage: tolvane")
    message(FATAL_ERROR "installed tolvane does not start (${rc}): ${err}")
  endif()
  if(TOOLCHAIN)
    message(STATUS "installed tree works: ${out}")
    return()
  endif()
  execute_process(COMMAND readelf -d ${prefix}/bin/tolvane OUTPUT_VARIABLE dynamic)
  if(system_layout AND dynamic MATCHES "RUNPATH|RPATH")
    message(FATAL_ERROR "tolvane for /usr has a run path")
  endif()

  execute_process(COMMAND bash ${SOURCE_DIR}/tests/install/readme_example.sh ${SOURCE_DIR}/README.md
                    ${prefix} ${libdir} ${work}/readme ${CXX} "${SANITIZE}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE readme ERROR_VARIABLE readme)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "README example failed: ${readme}")
  endif()
  message(STATUS "installed tree works: ${out}")
endfunction()
