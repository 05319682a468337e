# Install rules and the Debian package.
#
#   cmake --install build --prefix /usr/local
#   cmake --build build --target package        (kelvano_<version>-1_<arch>.deb in build/)
include(GNUInstallDirs)

set(KELVANO_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Folder of the udev rule, relative to the install prefix")
set(KELVANO_PACKAGE_MAINTAINER "KELVANO developers <kelvano@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_appid org.kelvano.kelvano)

install(TARGETS kelvano kelvano-cli kelvano-boxsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# USB access for the logged-in user once the rule is in udev's folder.
install(FILES ${_pkg}/udev/60-kelvano.rules DESTINATION ${KELVANO_UDEV_RULES_DIR})

install(FILES ${_pkg}/desktop/${_appid}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The metainfo names the web page and the screenshots on it only when the build has a web page.
if(KELVANO_HOMEPAGE)
    string(REGEX REPLACE "/+$" "" _web "${KELVANO_HOMEPAGE}")
    set(_web "${_web}/")
    set(KELVANO_METAINFO_WEB "  <url type=\"homepage\">${_web}</url>
  <screenshots>
    <screenshot type=\"default\">
      <caption>A PIC card's program memory and configuration word</caption>
      <image>${_web}guide/images/main-pic.png</image>
    </screenshot>
    <screenshot>
      <caption>An AVR card's flash beside its fuse page, in a window made larger</caption>
      <image>${_web}guide/images/avr-grown.png</image>
    </screenshot>
    <screenshot>
      <caption>Comparing the card with the buffers</caption>
      <image>${_web}guide/images/compare.png</image>
    </screenshot>
    <screenshot>
      <caption>A production run on four boxes</caption>
      <image>${_web}guide/images/production.png</image>
    </screenshot>
  </screenshots>
")
else()
    set(KELVANO_METAINFO_WEB "")
endif()
configure_file(${_pkg}/metainfo/${_appid}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/packaging/${_appid}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${_appid}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_pkg}/icons/kelvano.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(_size 16 22 24 32 48 64 128 256)
    install(FILES ${_pkg}/icons/kelvano-${_size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME kelvano.png)
endforeach()
install(FILES ${_pkg}/completion/kelvano-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages and the package's change log, compressed as Debian wants them (no time stamp,
# so that two builds give the same bytes).
find_program(KELVANO_GZIP gzip REQUIRED)
set(_gz_files)
function(kelvano_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${KELVANO_GZIP} -9 -n -c ${source} > ${output}
        DEPENDS ${source} VERBATIM)
    set(_gz_files ${_gz_files} ${output} PARENT_SCOPE)
endfunction()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
foreach(_page kelvano kelvano-cli kelvano-boxsim)
    kelvano_gzip(${_pkg}/man/${_page}.1 ${CMAKE_BINARY_DIR}/packaging/${_page}.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
kelvano_gzip(${_pkg}/debian/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_target(kelvano_packaging_files ALL DEPENDS ${_gz_files})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz ${_pkg}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# What a new user reads first, and a production job that runs as shipped.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(FILES ${_pkg}/examples/badge-job.ini ${_pkg}/examples/badge-firmware.hex
              ${_pkg}/examples/badge-eeprom.bin
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${_pkg}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME kelvano)

# ---- Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvano)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KELVANO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KELVANO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program of the STRAVINEX smart card programmer")
set(CPACK_PACKAGE_DESCRIPTION
    "KELVANO drives the STRAVINEX programmer box over a serial port or USB:\n\
it reads, erases, blank-checks, verifies and programs the controller and\n\
the I2C EEPROM of fifteen smart card types, from Intel HEX, Motorola\n\
S-record, ELF, binary, AVR object or card dump files. The package holds\n\
the desktop program, the terminal program kelvano-cli for scripts and\n\
production lines, the simulated box kelvano-boxsim, and the udev rule\n\
that gives the logged-in user access to the USB box.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
if(KELVANO_HOMEPAGE)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KELVANO_HOMEPAGE})
endif()
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the programs themselves (dpkg-shlibdeps); udev reloads the rule.
# Qt loads its platform plugins and SQL drivers at run time, so no library scan finds them: the
# window needs the platform plugins, a production run the SQLite driver; the PostgreSQL driver
# serves only logs shared between stations.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/debian/postinst ${_pkg}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
