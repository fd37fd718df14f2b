# The Windows release: Quorvane-<version>-win32.zip with the DLL as built
# (linked stripped), the manual, the change log and the licence, packed so that two builds
# of one commit give the same archive (cmake/reproducible_zip.py).
if(NOT QUORVANE_MANUAL_HTML)
  return()
endif()
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_FOUND)
  message(WARNING "python3 not found: no Windows zip")
  return()
endif()

set(QUORVANE_WIN32_ZIP ${CMAKE_BINARY_DIR}/Quorvane-${PROJECT_VERSION}-win32.zip)
add_custom_command(OUTPUT ${QUORVANE_WIN32_ZIP}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/reproducible_zip.py
          ${QUORVANE_WIN32_ZIP} Quorvane-${PROJECT_VERSION}
          $<TARGET_FILE:Quorvane> ${QUORVANE_MANUAL_HTML} ${PROJECT_SOURCE_DIR}/CHANGES.md
          ${PROJECT_SOURCE_DIR}/LICENSE
  DEPENDS Quorvane $<TARGET_FILE:Quorvane> ${QUORVANE_MANUAL_HTML}
          ${PROJECT_SOURCE_DIR}/CHANGES.md ${PROJECT_SOURCE_DIR}/LICENSE
          ${CMAKE_CURRENT_LIST_DIR}/reproducible_zip.py
  COMMENT "Packing ${QUORVANE_WIN32_ZIP}"
  VERBATIM)
add_custom_target(quorvane_win32_zip ALL DEPENDS ${QUORVANE_WIN32_ZIP})
