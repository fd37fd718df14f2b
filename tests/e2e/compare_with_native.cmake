# Renders with the 32-bit DLL under wine and with the native build's library,
# then compares the two renders with the target program: they must be equal
# bit for bit. Skipped (with a
# message) when the native build is not known or has no render program.
#
# -DNATIVE_BUILD_DIR=  native build folder (may be empty)
# -DTARGET_RENDER=     the Windows render program
# -DEMULATOR=          how to run it (wine wrapper)
# -DWORK_DIR=          where the renders go

if(NOT NATIVE_BUILD_DIR)
  message("e2e comparison skipped: configure the Windows build with "
          "-DQUORVANE_NATIVE_BUILD_DIR=<native build folder> (scripts/test-all.sh does)")
  return()
endif()
set(native_render "${NATIVE_BUILD_DIR}/tests/e2e/quorvane-e2e-render")
if(NOT EXISTS "${native_render}")
  message("e2e comparison skipped: ${native_render} is missing; build the native preset first")
  return()
endif()

set(native_raw "${WORK_DIR}/render-native.raw")
set(target_raw "${WORK_DIR}/render-windows.raw")
file(REMOVE "${native_raw}" "${target_raw}")

execute_process(COMMAND "${native_render}" render "${native_raw}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the native render failed (${result})")
endif()
execute_process(COMMAND ${EMULATOR} "${TARGET_RENDER}" check "${target_raw}" RESULT_VARIABLE result)
if(result EQUAL 77)
  message("e2e comparison skipped: wine cannot start on this kernel")
  return()
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the render with the 32-bit DLL failed its check (${result})")
endif()
# Bit for bit: the DLL does the very same arithmetic as the native build.
execute_process(COMMAND ${EMULATOR} "${TARGET_RENDER}" compare "${target_raw}" "${native_raw}" 0
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the 32-bit DLL's render differs from the native render")
endif()
