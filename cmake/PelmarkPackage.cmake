# Installation of what a user gets, and the packages made from it with CPack:
#
#   Linux:   cpack -G DEB  ->  pelmark-updater_<version>-<revision>_<arch>.deb
#            /usr/bin/pelmark-updater, pelmark-flash, pelmark-devsim; the
#            desktop entry and icons; the manual pages; README, copyright and
#            changelog under /usr/share/doc/pelmark-updater.
#   Windows: cpack -G ZIP  ->  pelmark-flash-<version>-win64.zip
#            pelmark-flash.exe (static), README.txt on COM ports and exit
#            statuses, LICENSE.txt.
#
# scripts/package.sh builds both. The version is the project() VERSION of the
# top-level CMakeLists.txt; nothing else in the tree names it.
include(GNUInstallDirs)

set(PELMARK_PACKAGE_MAINTAINER "Pelmark Updater contributors <pelmark-updater@example.org>" CACHE STRING
    "Maintainer of the Debian package (name <address>), also named in its changelog")

# The Debian revision: it counts the packagings of one version of the
# programs; the package's version is <project version>-<revision>.
set(PELMARK_DEBIAN_REVISION 1)

set(_pkg_dir "${PROJECT_SOURCE_DIR}/packaging")
set(_pkg_out "${PROJECT_BINARY_DIR}/packaging")

if(WIN32)
  # The zip holds its files at the top, beside the program.
  install(FILES "${_pkg_dir}/windows/README.txt" DESTINATION .)
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION . RENAME LICENSE.txt)
else()
  set(_docdir "${CMAKE_INSTALL_DATADIR}/doc/pelmark-updater")

  # Manual pages: the version filled in, compressed as Debian ships them
  # (gzip -9n: no name or time stamp, so the bytes do not change with the build).
  set(_man_pages pelmark-flash.1 pelmark-devsim.1)
  if(PELMARK_BUILD_GUI)
    list(APPEND _man_pages pelmark-updater.1)
  endif()
  set(_man_out "${_pkg_out}/man")
  set(_compressed)
  foreach(_page IN LISTS _man_pages)
    configure_file("${PROJECT_SOURCE_DIR}/docs/man/${_page}" "${_man_out}/src/${_page}" @ONLY)
    add_custom_command(OUTPUT "${_man_out}/${_page}.gz"
      COMMAND "${CMAKE_COMMAND}" -E copy "${_man_out}/src/${_page}" "${_man_out}/${_page}"
      COMMAND gzip -9nf "${_man_out}/${_page}"
      DEPENDS "${_man_out}/src/${_page}"
      COMMENT "Compressing manual page ${_page}"
      VERBATIM)
    list(APPEND _compressed "${_man_out}/${_page}.gz")
  endforeach()

  # The Debian changelog: one entry for this version, dated by
  # SOURCE_DATE_EPOCH when it is set.
  string(TIMESTAMP PELMARK_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file("${_pkg_dir}/debian/changelog.in" "${_pkg_out}/changelog.Debian" @ONLY)
  add_custom_command(OUTPUT "${_pkg_out}/changelog.Debian.gz"
    COMMAND "${CMAKE_COMMAND}" -E copy "${_pkg_out}/changelog.Debian" "${_pkg_out}/changelog.Debian.tmp"
    COMMAND gzip -9nf "${_pkg_out}/changelog.Debian.tmp"
    COMMAND "${CMAKE_COMMAND}" -E rename "${_pkg_out}/changelog.Debian.tmp.gz" "${_pkg_out}/changelog.Debian.gz"
    DEPENDS "${_pkg_out}/changelog.Debian"
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
  add_custom_target(pelmark-package-docs ALL DEPENDS ${_compressed} "${_pkg_out}/changelog.Debian.gz")

  install(FILES ${_compressed} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${_pkg_dir}/debian/copyright" "${_pkg_out}/changelog.Debian.gz"
          DESTINATION "${_docdir}")
endif()

# ---- CPack ----------------------------------------------------------------------
set(CPACK_PACKAGE_NAME pelmark-updater)
set(CPACK_PACKAGE_VENDOR "Pelmark Updater contributors")
set(CPACK_PACKAGE_CONTACT "${PELMARK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for PIC18 and PIC24/dsPIC33 serial bootloaders")
set(CPACK_PACKAGE_DESCRIPTION
    "Pelmark Updater finds the serial bootloader of a PIC18, PIC24 or dsPIC33\n"
    "device on a serial port, picks the firmware image the build carries for\n"
    "its chip and board, writes it row by row with checksums and\n"
    "retransmission, and reports success or the exact reason for failure.\n"
    "\n"
    "The package holds the Qt 6 desktop program pelmark-updater, the console\n"
    "front end pelmark-flash for scripts and production lines, and the\n"
    "virtual device pelmark-devsim, which plays the bootloader on a\n"
    "pseudo-terminal for trying the updater without hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "pelmark-flash-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${PELMARK_DEBIAN_REVISION})
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The windows' fonts stand in for the designed Windows faces.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2 | fonts-dejavu-core")
endif()
include(CPack)
