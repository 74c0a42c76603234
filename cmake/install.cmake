# Installation layout and the Debian package.
#
#   <prefix>/lib/tessaroutility/       TessaroUtility with sensors/, lang/ and rc/ beside it
#   <prefix>/bin/tessaroutility        launcher: enters that folder and starts the program
#   <prefix>/bin/tessaroctl            link to lib/tessaroutility/tessaroctl, which finds its
#                                      data beside itself
#   <prefix>/share/man/man1/           manual pages of both programs
#   <prefix>/share/bash-completion/completions/tessaroctl
#   <prefix>/share/doc/tessaroutility/ copyright and changelog
#   <prefix>/lib/udev/rules.d/         hidraw access for the user at the seat
#   <prefix>/share/applications/, share/metainfo/, share/icons/hicolor/256x256/apps/
#
# The demo, the tests and tessaro-service are not installed.

include(GNUInstallDirs)
set(TESSARO_DOC_PACKAGE "tessaroutility")

set(TESSARO_INSTALL_APPDIR "lib/tessaroutility" CACHE STRING
    "Folder of the program and its data files, relative to the prefix (or absolute)")
set(TESSARO_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE STRING
    "Folder of the udev rules, relative to the prefix (or absolute)")
set(TESSARO_APP_ID "com.corvanel.TessaroUtility")
set(TESSARO_LAUNCHER_NAME "tessaroutility")
set(TESSARO_UDEV_RULE_FILE "70-tessaroutility.rules")

# The program and the data it opens beside itself.
install(TARGETS TessaroUtility RUNTIME DESTINATION ${TESSARO_INSTALL_APPDIR})
install(TARGETS tessaroctl RUNTIME DESTINATION ${TESSARO_INSTALL_APPDIR})
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

# tessaroctl resolves its own location (symbolic links included) to find sensors/, so bin/
# holds a relative link to it rather than a launcher that would change the directory under
# the user's file arguments.
if(IS_ABSOLUTE "${TESSARO_INSTALL_APPDIR}")
  set(TESSARO_CTL_TARGET "${TESSARO_INSTALL_APPDIR}/tessaroctl")
else()
  file(RELATIVE_PATH TESSARO_CTL_TARGET "${CMAKE_INSTALL_FULL_BINDIR}"
       "${CMAKE_INSTALL_PREFIX}/${TESSARO_INSTALL_APPDIR}/tessaroctl")
endif()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install)
file(CREATE_LINK ${TESSARO_CTL_TARGET} ${CMAKE_BINARY_DIR}/install/tessaroctl SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install/tessaroctl DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages and the changelog, compressed as Debian wants them (no name, no time stamp).
find_program(TESSARO_GZIP gzip REQUIRED)
set(TESSARO_DOC_OUTPUTS)
foreach(source man/tessaroutility.1 man/tessaroctl.1 doc/changelog)
  set(output ${CMAKE_BINARY_DIR}/install/${source}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/install/man ${CMAKE_BINARY_DIR}/install/doc
    COMMAND ${TESSARO_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/data/${source} > ${output}
    DEPENDS ${CMAKE_SOURCE_DIR}/data/${source}
    COMMENT "Compressing ${source}")
  list(APPEND TESSARO_DOC_OUTPUTS ${output})
endforeach()
add_custom_target(tessaro_docs ALL DEPENDS ${TESSARO_DOC_OUTPUTS})
install(FILES ${CMAKE_BINARY_DIR}/install/man/tessaroutility.1.gz ${CMAKE_BINARY_DIR}/install/man/tessaroctl.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/install/doc/changelog.gz ${CMAKE_SOURCE_DIR}/data/doc/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TESSARO_DOC_PACKAGE})
install(FILES ${CMAKE_SOURCE_DIR}/data/completion/tessaroctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

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
A udev rule gives the user at the seat access to the sensor. tessaroctl does
the same sensor work from a terminal, for scripts and production lines.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Besides the libraries: Qt's own translations, so that the file dialog speaks the
# program's language.
if(TESSARO_QT STREQUAL "6")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qttranslations5-l10n")
endif()
# After installing and removing: udev reads its rules again and applies them to the hidraw
# nodes already there, so a sensor plugged in meanwhile need not be plugged in again.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_SOURCE_DIR}/data/deb/postinst;${CMAKE_SOURCE_DIR}/data/deb/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debian's policy for every folder and file of a package, whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
