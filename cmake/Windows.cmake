# Windows builds (mingw-w64). Included by the top-level CMakeLists.txt before
# any target is made.

# The target's name as the presets, build folders and packages give it.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TOLVANE_WINDOWS_TARGET win64)
  set(TOLVANE_WINDOWS_BITS 64)
else()
  set(TOLVANE_WINDOWS_TARGET win32)
  set(TOLVANE_WINDOWS_BITS 32)
endif()

# Every program and the DLL carry their own copy of libgcc, libstdc++ and
# winpthread, so they need only Windows system DLLs at run time. (CMake links
# the DLL's import library by its full path, which -static leaves alone.)
add_link_options(-static)

# Programs beside the DLL, as Windows finds DLLs in the program's folder.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# Tests of a cross build run under Wine, each Windows build tree in a Wine
# prefix of its own (scripts/wine-run.sh makes and starts it). 32-bit
# programs need the 32-bit loader, which Debian 12 cannot install beside a
# current 64-bit system; without it the tests are built but not registered.
if(CMAKE_CROSSCOMPILING AND NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TOLVANE_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the Windows test programs")
  else()
    set(TOLVANE_WINE_LOADER /usr/lib/wine/wine CACHE FILEPATH "Wine loader that runs the Windows test programs")
  endif()
  if(EXISTS ${TOLVANE_WINE_LOADER})
    set(CMAKE_CROSSCOMPILING_EMULATOR
      ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${TOLVANE_WINE_LOADER} ${PROJECT_BINARY_DIR}/wine)
  else()
    message(STATUS "No Wine loader ${TOLVANE_WINE_LOADER}: tests are built, not registered")
  endif()
endif()
# Test programs are listed when ctest runs, not while building, so a build
# needs no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)


# Every DLL and program that ships carries a version resource (file and
# product version from the project's version), compiled by the toolchain's
# windres.
enable_language(RC)
function(tolvane_version_resource target description)
  set(TOLVANE_RC_TARGET ${target})
  set(TOLVANE_RC_DESCRIPTION "${description}")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(TOLVANE_RC_FILETYPE VFT_DLL)
  else()
    set(TOLVANE_RC_FILETYPE VFT_APP)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/Version.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()
