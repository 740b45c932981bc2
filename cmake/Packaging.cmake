# What `cmake --install` puts where, and the Debian package that `make package` makes of
# it with CPack:
#   bin/pcktool, bin/quorvane-update           (tools/ and the root list install them)
#   share/quorvane/QuorvaneUpdate.exe          the Windows updater's release image
# A Windows build installs its own image (ui/) beside bin/pcktool.exe; a Linux build
# carries the one that the Windows build next to it made, when that exists.

if(WIN32)
  return()
endif()

set(QV_WINDOWS_UPDATER_IMAGE ${CMAKE_SOURCE_DIR}/build/windows/release/QuorvaneUpdate.exe
    CACHE FILEPATH "The Windows updater's release image that a Linux install and its package carry when it exists")
install(FILES ${QV_WINDOWS_UPDATER_IMAGE} DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane
        RENAME QuorvaneUpdate.exe OPTIONAL)

# The package for a publisher's build machine: quorvane-tools_<version>_<arch>.deb. Its
# Depends line comes from dpkg-shlibdeps (dpkg-dev), which reads the libraries that the
# two programs load.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane-tools)
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_CONTACT "Quorvane publisher tools <tools@quorvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorvane game packages and patch updaters for publishers")
set(CPACK_PACKAGE_DESCRIPTION
    "pcktool builds, inspects, edits, verifies and compacts the game's packages, makes a\n"
    "patch from two versions of the game and appends it to an updater. The package holds\n"
    "pcktool, the console updater quorvane-update and the Windows updater's image.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Strips the installed programs only; the Windows image is installed as a file, as built.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
