# Installation layout and the Debian package.
#
#   <prefix>/lib/tessaroutility/       TessaroUtility with sensors/, lang/ and rc/ beside it
#   <prefix>/bin/tessaroutility        launcher: enters that folder and starts the program
#   <prefix>/lib/udev/rules.d/         hidraw access for the user at the seat
#   <prefix>/share/applications/, share/metainfo/, share/icons/hicolor/256x256/apps/
#
# The demo, the tests and tessaro-service are not installed.

include(GNUInstallDirs)

set(TESSARO_INSTALL_APPDIR "lib/tessaroutility" CACHE STRING
    "Folder of the program and its data files, relative to the prefix (or absolute)")
set(TESSARO_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE STRING
    "Folder of the udev rules, relative to the prefix (or absolute)")
set(TESSARO_APP_ID "com.corvanel.TessaroUtility")
set(TESSARO_LAUNCHER_NAME "tessaroutility")
set(TESSARO_UDEV_RULE_FILE "70-tessaroutility.rules")

# The program and the data it opens relative to its current directory.
install(TARGETS TessaroUtility RUNTIME DESTINATION ${TESSARO_INSTALL_APPDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/sensors/ DESTINATION ${TESSARO_INSTALL_APPDIR}/sensors)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/lang/ DESTINATION ${TESSARO_INSTALL_APPDIR}/lang)
# The pictures are drawn at build time (target tessaro_pictures).
install(DIRECTORY ${CMAKE_BINARY_DIR}/rc/ DESTINATION ${TESSARO_INSTALL_APPDIR}/rc
        FILES_MATCHING PATTERN "*.png")

# The launcher finds the program folder relative to its own location, which keeps the
# installation relocatable (DESTDIR, the unpacked package, a moved prefix).
if(IS_ABSOLUTE "${TESSARO_INSTALL_APPDIR}")
  set(TESSARO_LAUNCHER_APPDIR "\"${TESSARO_INSTALL_APPDIR}\"")
else()
  file(RELATIVE_PATH TESSARO_LAUNCHER_APPDIR "${CMAKE_INSTALL_FULL_BINDIR}"
       "${CMAKE_INSTALL_PREFIX}/${TESSARO_INSTALL_APPDIR}")
  set(TESSARO_LAUNCHER_APPDIR "\"$here/${TESSARO_LAUNCHER_APPDIR}\"")
endif()
set(TESSARO_PROGRAM TessaroUtility)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tessaroutility.sh.in
               ${CMAKE_BINARY_DIR}/install/${TESSARO_LAUNCHER_NAME} @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/install/${TESSARO_LAUNCHER_NAME} DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_SOURCE_DIR}/data/udev/${TESSARO_UDEV_RULE_FILE}
        DESTINATION ${TESSARO_INSTALL_UDEVRULESDIR})

# Desktop integration.
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${TESSARO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${TESSARO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_BINARY_DIR}/rc/tessaro_icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME ${TESSARO_APP_ID}.png)

# The packaging test compares the desktop entry with the names installed here.
if(TARGET tst_packaging)
  target_compile_definitions(tst_packaging PRIVATE
    TESSARO_APP_ID="${TESSARO_APP_ID}"
    TESSARO_LAUNCHER_NAME="${TESSARO_LAUNCHER_NAME}"
    TESSARO_UDEV_RULE_FILE="${TESSARO_UDEV_RULE_FILE}")
endif()

# Debian package: cpack -G DEB in the build folder (scripts/check-package).
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tessaroutility")
set(CPACK_PACKAGE_VENDOR "Corvanel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Corvanel <support@corvanel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and service tool for Tessaro pen-tracking sensors")
set(CPACK_PACKAGE_DESCRIPTION
"TessaroUtility finds a Tessaro sensor on the USB bus, shows its identity and
the pen's state, edits its configuration registers, shows the pen point and the
calibrated area live, runs the four-corner calibration and the centering aid,
checks for newer firmware and re-flashes the sensor through its HID bootloader.
A udev rule gives the user at the seat access to the sensor.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
