# The user's manual, docs/manual.md, as one self-contained HTML page (its
# plots and its style sheet, docs/manual.css, embedded), for both packages:
# the Windows zip and the tools' deb.
# Sets QUORVANE_MANUAL_HTML and the target quorvane_manual, or leaves both
# unset with a warning where pandoc is missing (scripts/setup.sh installs it).
find_program(QUORVANE_PANDOC pandoc)
if(NOT QUORVANE_PANDOC)
  message(WARNING "pandoc not found (scripts/setup.sh installs it): no manual, no packages")
  return()
endif()

# Newer pandoc says --embed-resources --standalone for what older ones (as
# in Debian 12) call --self-contained.
execute_process(COMMAND ${QUORVANE_PANDOC} --help OUTPUT_VARIABLE pandoc_help ERROR_QUIET)
if(pandoc_help MATCHES "--embed-resources")
  set(embed --embed-resources --standalone)
else()
  set(embed --self-contained)
endif()

set(QUORVANE_MANUAL_HTML ${CMAKE_BINARY_DIR}/manual/Quorvane-manual.html)
file(GLOB manual_plots CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
add_custom_command(OUTPUT ${QUORVANE_MANUAL_HTML}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/manual
  COMMAND ${QUORVANE_PANDOC} ${embed} --toc --toc-depth=2
          "--metadata=subtitle:Version ${PROJECT_VERSION}"
          --resource-path=${PROJECT_SOURCE_DIR}/docs
          --css=${PROJECT_SOURCE_DIR}/docs/manual.css
          -o ${QUORVANE_MANUAL_HTML} ${PROJECT_SOURCE_DIR}/docs/manual.md
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/manual.md ${PROJECT_SOURCE_DIR}/docs/manual.css ${manual_plots}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/docs
  COMMENT "Manual: docs/manual.md to one HTML page"
  VERBATIM)
add_custom_target(quorvane_manual ALL DEPENDS ${QUORVANE_MANUAL_HTML})
