# cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<scratch> -DTOOLCHAIN=<file> -P build_dll_twice.cmake
#
# A release can be checked by anyone only if rebuilding its commit gives the
# same bytes. Copies the sources the DLL is made of into two folders at
# different depths, builds Quorvane there one after the other (so at
# different times, from different paths) and compares the two DLLs byte for
# byte.
foreach(var SOURCE_DIR WORK_DIR TOOLCHAIN)
  if(NOT ${var})
    message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=... -DWORK_DIR=... -DTOOLCHAIN=... -P build_dll_twice.cmake")
  endif()
endforeach()

set(parts CMakeLists.txt cmake host_interface equaliser host bench dll_runner)
set(trees ${WORK_DIR}/first ${WORK_DIR}/second/a/longer/path)
file(REMOVE_RECURSE ${WORK_DIR})

foreach(tree IN LISTS trees)
  file(MAKE_DIRECTORY ${tree}/src)
  foreach(part IN LISTS parts)
    file(COPY ${SOURCE_DIR}/${part} DESTINATION ${tree}/src)
  endforeach()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${tree}/src -B ${tree}/src/build
            -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release
            -DQUORVANE_TESTS=OFF
    OUTPUT_QUIET RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring in ${tree} failed: ${errors}")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${tree}/src/build --target Quorvane -j2
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "building in ${tree} failed: ${output}")
  endif()
  # A second apart at least, so a link time would show.
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.1)
endforeach()

list(GET trees 0 first)
list(GET trees 1 second)
file(SHA256 ${first}/src/build/Quorvane.dll one)
file(SHA256 ${second}/src/build/Quorvane.dll two)
if(NOT one STREQUAL two)
  message(FATAL_ERROR "Quorvane.dll differs between the two builds:\n  ${one}  ${first}\n  ${two}  ${second}")
endif()
message(STATUS "Quorvane.dll: ${one} in both builds")
file(REMOVE_RECURSE ${WORK_DIR})
