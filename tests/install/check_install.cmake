# Installs the build into a scratch prefix and checks the installed tree.
include(${CMAKE_CURRENT_LIST_DIR}/HostCheck.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
if(TOOLCHAIN)
  set(files bin/Tolvane.dll ${LIBDIR}/libTolvane.dll.a bin/tolvane.exe)
  set(examples examples)
else()
  set(files ${LIBDIR}/libtolvane.so bin/tolvane share/man/man1/tolvane.1.gz)
  set(examples share/doc/tolvane/examples)
endif()
foreach(f include/tolvane/Tolvane.h ${LIBDIR}/pkgconfig/tolvane.pc ${LIBDIR}/cmake/Tolvane/TolvaneConfig.cmake
          ${examples}/NetWork.ini ${examples}/client/NetWork.ini ${examples}/server/NetWork.ini ${files})
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "missing after install: ${f}")
  endif()
endforeach()

tolvane_check_tree(${prefix} ${LIBDIR} ${WORK_DIR})
