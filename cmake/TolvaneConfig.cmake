include("${CMAKE_CURRENT_LIST_DIR}/TolvaneTargets.cmake")
