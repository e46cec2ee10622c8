# The Debian package of the wizard and the unit simulator: `cpack -G DEB` in the build
# folder (scripts/package.sh does it). What goes in is what the install rules install.
if(NOT (UNIX AND NOT APPLE))
    return()
endif()

set(VERTAL_PACKAGE_MAINTAINER "VERTAL-KP Wizard maintainers <maintainers@vertal.example.org>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vertal-wizard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VERTAL-KP Wizard developers")
set(CPACK_PACKAGE_CONTACT ${VERTAL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up a VERTAL-KP security control unit over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "The wizard finds a VERTAL-KP control unit on a serial port, shows its firmware
version and boards, watches an input board's status and value, and sets which
relay the board switches on alarm. It starts from the desktop's menu.

The package also holds vertal-cli, the same operations from a shell for
scripts, commissioning and monitoring, and vertal-unit-sim, a simulated unit
on a pseudo-terminal for trying the wizard without a unit at hand.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VERTAL_PACKAGE_MAINTAINER})
# Qt's own texts in Russian (the buttons of every box), which the wizard loads at start;
# the Qt libraries of the distribution follow, as dpkg-shlibdeps finds them in the programs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The monitoring service's system account is made on install (systemd-sysusers), so that
# the service can be enabled at once; nothing enables or starts the service.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/systemd/postinst)

include(CPack)
