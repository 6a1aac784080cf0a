# Makes the Windows ZIP of the build as scripts/build-windows.sh does, unpacks
# it into an empty folder and checks what a host's vendor takes from it: each
# file in its place, a line in examples/NetWork.ini for every key the library
# reads, OpenSSL's license when the DLL links OpenSSL, and hosts built from
# the folder alone (the README's g++ line, CMake and pkg-config) that run
# under Wine with the command when the target has a Wine.
include(${CMAKE_CURRENT_LIST_DIR}/HostCheck.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND cpack -G ZIP -B ${WORK_DIR}/zip WORKING_DIRECTORY ${BUILD_DIR}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
set(zip ${WORK_DIR}/zip/Tolvane-${VERSION}-${TARGET}.zip)
if(NOT rc EQUAL 0 OR NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack made no ${zip}: ${out}")
endif()
set(root ${WORK_DIR}/root)
file(MAKE_DIRECTORY ${root})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${root} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${zip}")
endif()

set(files bin/Tolvane.dll bin/tolvane.exe lib/libTolvane.dll.a lib/Tolvane.def include/tolvane/Tolvane.h
  examples/NetWork.ini README.txt LICENSE.txt)
if(HAVE_TLS)
  list(APPEND files OpenSSL-LICENSE.txt)
endif()
foreach(f ${files})
  if(NOT EXISTS ${root}/${f})
    message(FATAL_ERROR "missing in the zip: ${f}")
  endif()
endforeach()
if(EXISTS ${root}/share OR (NOT HAVE_TLS AND EXISTS ${root}/OpenSSL-LICENSE.txt))
  message(FATAL_ERROR "the zip holds what it should not: share/ or OpenSSL's license without OpenSSL")
endif()

# The keys as the readers name them: section.Int("key", ...), .Text("key"),
# GetPrivateProfileIntA(section, "key", ...), ReadPath(file, "key", ...)
# and the table entries {"key", "default", ...} of the TLS texts.
file(GLOB readers ${SOURCE_DIR}/src/config/*.cpp ${SOURCE_DIR}/src/tls/OSSLConfig.cpp)
file(READ ${root}/examples/NetWork.ini example)
set(keys "")
foreach(reader ${readers})
  file(READ ${reader} code)
  string(REGEX MATCHALL "(\\.Int\\(|\\.Text\\(|IntA\\([^,()]+,|ReadPath\\(file,) *\"[A-Za-z0-9]+\"|{\"[A-Za-z0-9]+\", \""
         found "${code}")
  foreach(match ${found})
    string(REGEX REPLACE ".*\"([A-Za-z0-9]+)\"(, \")?$" "\\1" key "${match}")
    list(APPEND keys ${key})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES keys)
list(LENGTH keys count)
if(count LESS 40)
  message(FATAL_ERROR "only ${count} keys found in the readers: ${keys}")
endif()
foreach(key ${keys})
  if(NOT example MATCHES "\n;${key}=")
    message(FATAL_ERROR "examples/NetWork.ini has no line ;${key}=")
  endif()
endforeach()

# The README's g++ line: header and import library by path, the DLL beside.
set(plain ${WORK_DIR}/plain)
file(MAKE_DIRECTORY ${plain})
execute_process(COMMAND ${CXX} -std=c++17 -Wall -Wextra -Werror -I${root}/include/tolvane
                  ${SOURCE_DIR}/tests/install/host/main.cpp ${root}/lib/libTolvane.dll.a -static -o ${plain}/host.exe
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "host build with g++ failed: ${err}")
endif()
file(COPY ${root}/bin/Tolvane.dll DESTINATION ${plain})
string(REPLACE "|" ";" emulator "${EMULATOR}")
if(emulator)
  execute_process(COMMAND ${emulator} ${plain}/host.exe RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "tiny host ok")
    message(FATAL_ERROR "host built with g++ failed (${rc}): ${out}")
  endif()
endif()
tolvane_check_tree(${root} lib ${WORK_DIR})
