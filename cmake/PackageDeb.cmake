# The Linux release: quorvane-tools_<version>_<arch>.deb, made by CPack from
# the install rules (quorvane-render, the native module and its plotting
# script, the compressed man page, the LV2 bundle, the presets; here the
# manual, the change log, the Debian changelog and copyright file and the
# manual's doc-base entry), installing under /usr. Dated SOURCE_DATE_EPOCH
# when that is set (scripts/release.sh sets the last commit's time), with
# fixed owners and permissions, so two builds of one commit give the same
# package. CTest runs lintian on it (tests/release).
if(NOT QUORVANE_MANUAL_HTML)
  return()
endif()
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_FOUND)
  message(WARNING "python3 not found: no deb")
  return()
endif()
include(GNUInstallDirs)

# A project address rather than a person's: the package is the project's.
set(QUORVANE_DEB_MAINTAINER "The Quorvane developers <quorvane@users.noreply.quorvane.org>")
set(doc ${CMAKE_INSTALL_DATADIR}/doc/quorvane-tools)

# Folders made by the install get these whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES ${QUORVANE_LINUX_MANUAL_HTML} ${PROJECT_SOURCE_DIR}/CHANGES.md
        DESTINATION ${doc}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The copyright file in Debian's machine-readable form, its licence text and
# holders taken from LICENSE, so the two say the same.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(Permission[^\r]*)$")
  message(FATAL_ERROR "LICENSE: no 'Copyright (c) ...' line followed by the licence text")
endif()
set(QUORVANE_COPYRIGHT_HOLDERS "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" licence_text)
# Debian's form: every line indented by one space, an empty one written " .".
string(REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
string(REPLACE "\n" "\n " licence_text "${licence_text}")
set(QUORVANE_EXPAT_TEXT " ${licence_text}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian_copyright.in ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/debian/copyright DESTINATION ${doc}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The Debian changelog, from CHANGES.md's released sections.
set(changelog ${CMAKE_BINARY_DIR}/debian/changelog)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/debian_changelog.py
          ${PROJECT_SOURCE_DIR}/CHANGES.md quorvane-tools ${PROJECT_VERSION}
          ${QUORVANE_DEB_MAINTAINER} ${QUORVANE_PANDOC} ${changelog}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/gzip_file.py ${changelog} ${changelog}.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGES.md ${CMAKE_CURRENT_LIST_DIR}/debian_changelog.py
          ${CMAKE_CURRENT_LIST_DIR}/gzip_file.py
  COMMENT "Debian changelog from CHANGES.md"
  VERBATIM)
add_custom_target(quorvane_deb_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION ${doc}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The manual registered with doc-base, so documentation browsers list it.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvane-tools.doc-base
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc-base RENAME quorvane-tools.quorvane-manual
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvane developers")
set(CPACK_PACKAGE_CONTACT "${QUORVANE_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "five-band parametric equaliser: LV2 plug-in and audio file renderer")
# Lines of at most 80 columns, as Debian shows them; CPack indents each one.
set(CPACK_PACKAGE_DESCRIPTION [[
Quorvane is a stereo five-band parametric equaliser: five biquad bands
with nine responses each (low-pass, high-pass, two band-passes, notch,
all-pass, peaking, low shelf, high shelf). This package holds its Linux
builds, which give the same output bits as the Windows module:
 - quorvane.lv2 (/usr/lib/lv2/quorvane.lv2), the equaliser as an LV2
   plug-in for hosts such as Ardour, with a bypass, an output gain, band
   switches, five presets and its response curve in Ardour's mixer strip;
 - quorvane-render, which runs WAV, FLAC and AIFF files through the
   equaliser with settings, presets and automation from the command line,
   and plots its response as measured from the module.
The user's manual comes with them as one HTML page.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# What the program, the module and the plotting script load at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libgcc-s1, libstdc++6, libsndfile1, python3, python3-matplotlib, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
set(QUORVANE_DEB_PACKAGE ON)
