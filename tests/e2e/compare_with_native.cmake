# Renders with the 32-bit DLL and with the native build's library, then
# compares the two renders with the target program: they must be equal bit
# for bit, since both builds compute every design with the library's own
# elementary functions and every sample with the same SSE2 double
# arithmetic. Without the native build there is nothing to compare with, and
# the test fails saying so.
#
# -DNATIVE_BUILD_DIR=  native build folder
# -DTARGET_RENDER=     the Windows render program
# -DEMULATOR=          how to run it (run-32bit)
# -DWORK_DIR=          where the renders go

if(NOT NATIVE_BUILD_DIR)
  message(FATAL_ERROR "no native build to compare with: configure the Windows build with "
                      "-DQUORVANE_NATIVE_BUILD_DIR=<native build folder> (scripts/test-all.sh does)")
endif()
set(native_render "${NATIVE_BUILD_DIR}/tests/e2e/quorvane-e2e-render")
if(NOT EXISTS "${native_render}")
  message(FATAL_ERROR "${native_render} is missing: build the native preset first")
endif()

# The e2e render, checked, and the design sweep, from each build.
foreach(kind render sweep)
  set(native_raw "${WORK_DIR}/${kind}-native.raw")
  set(target_raw "${WORK_DIR}/${kind}-windows.raw")
  file(REMOVE "${native_raw}" "${target_raw}")
  execute_process(COMMAND "${native_render}" ${kind} "${native_raw}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the native ${kind} failed (${result})")
  endif()
  set(target_mode ${kind})
  if(kind STREQUAL render)
    set(target_mode check)
  endif()
  execute_process(COMMAND ${EMULATOR} "${TARGET_RENDER}" ${target_mode} "${target_raw}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the ${kind} with the 32-bit DLL failed (${result})")
  endif()
  # Bit for bit: the DLL does the very same arithmetic as the native build.
  execute_process(COMMAND ${EMULATOR} "${TARGET_RENDER}" compare "${target_raw}" "${native_raw}" 0
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the 32-bit DLL's ${kind} differs from the native one")
  endif()
endforeach()
