# The user's manuals, each one self-contained HTML page (its plots and its
# style sheet, docs/manual.css, embedded), both named Quorvane-manual.html:
# - for the Windows zip, docs/manual-host.md: the module in the host;
# - for the tools' deb, docs/manual-linux.md: the LV2 plug-in and
#   quorvane-render.
# Chapters both carry (the nine responses) are written once and included
# where a code block of class "include" names them (docs/include.lua).
# Sets QUORVANE_MANUAL_HTML (the host's), QUORVANE_LINUX_MANUAL_HTML and the
# target quorvane_manual, or leaves them unset with a warning where pandoc is
# missing (scripts/setup.sh installs it).
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

set(docs ${PROJECT_SOURCE_DIR}/docs)
file(GLOB manual_plots CONFIGURE_DEPENDS ${docs}/*.png)
file(GLOB manual_sources CONFIGURE_DEPENDS ${docs}/*.md)
set(QUORVANE_MANUAL_HTML ${CMAKE_BINARY_DIR}/manual/host/Quorvane-manual.html)
set(QUORVANE_LINUX_MANUAL_HTML ${CMAKE_BINARY_DIR}/manual/linux/Quorvane-manual.html)
foreach(reader host linux)
  set(page ${CMAKE_BINARY_DIR}/manual/${reader}/Quorvane-manual.html)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/manual/${reader}
    COMMAND ${QUORVANE_PANDOC} ${embed} --toc --toc-depth=2
            "--metadata=subtitle:Version ${PROJECT_VERSION}"
            --lua-filter=${docs}/include.lua
            --resource-path=${docs}
            --css=${docs}/manual.css
            -o ${page} ${docs}/manual-${reader}.md
    DEPENDS ${manual_sources} ${docs}/include.lua ${docs}/manual.css ${manual_plots}
    WORKING_DIRECTORY ${docs}
    COMMENT "Manual: docs/manual-${reader}.md to one HTML page"
    VERBATIM)
endforeach()
add_custom_target(quorvane_manual ALL DEPENDS ${QUORVANE_MANUAL_HTML} ${QUORVANE_LINUX_MANUAL_HTML})
