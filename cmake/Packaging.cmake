# The packages made from the install rules: the Debian package on Linux, the
# installer and the zip on Windows (`cpack`, or the package target).
set(CPACK_PACKAGE_NAME pictrim)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pictrim developers")
if(WIN32)
  # `cpack -G ZIP` (or the package target) makes pictrim-<version>-win64.zip.
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME pictrim-${PROJECT_VERSION}-win64)
  set(CPACK_STRIP_FILES ON)
  # `cpack -G NSIS` makes the installer pictrim-<version>-win64.exe from
  # cmake/NSIS.template.in: 64-bit and Unicode (NSIS's default stub is
  # 32-bit, which a 64-bit-only Windows or Wine does not start), Japanese.
  list(APPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake)
  set(CPACK_NSIS_DEFINES "Target amd64-unicode")
  set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/icons/pictrim.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/res/icons/pictrim.ico)
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/res/copyright)
else()
  # `cpack -G DEB` (or the package target) makes pictrim_<version>_<arch>.deb
  # from the install rules.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_CONTACT "${PICTRIM_MAINTAINER}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resize uncompressed 24-bit BMP images")
  set(CPACK_PACKAGE_DESCRIPTION
      "Pictrim resizes uncompressed 24-bit BMP files to 5, 10, 20, 25, 33 or 50 %
by box averaging, or to 200 % by neighbour averaging. The desktop program is a
small Japanese dialog (source, destination, ratio, Execute) that also opens
BMP files from the file manager; pictrim-cli does the same from the command
line. A destination is replaced only once the new picture is completely
written.")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Not found by dpkg-shlibdeps: the dialog's font and Qt's own Japanese texts.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, qt6-translations-l10n")
  # The completion of pictrim-cli is written for it and does nothing without it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
