# The Linux release: quorvane-tools_<version>_<arch>.deb, made by CPack from
# the install rules (quorvane-render, the native module and its plotting
# script, the man page; here the manual and the change log), installing under
# /usr. Dated SOURCE_DATE_EPOCH when that is set (scripts/release.sh sets the
# last commit's time), with fixed owners and permissions, so two builds of
# one commit give the same package.
if(NOT QUORVANE_MANUAL_HTML)
  return()
endif()
include(GNUInstallDirs)

# Folders made by the install get these whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES ${QUORVANE_MANUAL_HTML} ${PROJECT_SOURCE_DIR}/CHANGES.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvane-tools
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvane developers")
set(CPACK_PACKAGE_CONTACT "The Quorvane developers <quorvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Quorvane five-band equaliser: render audio files and plot responses")
set(CPACK_PACKAGE_DESCRIPTION
    "quorvane-render runs audio files through the Quorvane stereo five-band parametric equaliser (the native build of the module the host loads, bit-exact to the Windows DLL), with settings and automation from the command line, and plots the equaliser's response as measured from the module. Includes the user's manual.")
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
