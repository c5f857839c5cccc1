# The Debian package: `make deb` runs CPack's DEB generator over the install rules of the normal build. The
# program is installed under /usr: the program in bin/, its engines, converters, HTML engine module and the
# self-extracting stub in lib/tarnwick (found beside the program as ../lib/tarnwick, platform/paths), the help
# page in share/tarnwick, the desktop entry, icon, AppStream metainfo and manual page where the desktop looks.
# No test program has an install rule, so none is packaged.
set(TARNWICK_PACKAGE_MAINTAINER "The Tarnwick developers <maintainers@users.noreply.c-seed-c531ecef.example>"
    CACHE STRING "Maintainer field of the Debian package")

# The package's own documentation: the copyright file and a changelog in Debian's format.
string(TIMESTAMP TARNWICK_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH is honoured
configure_file(${CMAKE_SOURCE_DIR}/package/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/package/changelog > ${CMAKE_BINARY_DIR}/package/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/package/changelog VERBATIM)
add_custom_target(tarnwick_package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
set(TARNWICK_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)
install(FILES ${CMAKE_SOURCE_DIR}/package/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz DESTINATION ${TARNWICK_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/package/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME tarnwick)

# The package is made from a finished build (`make deb` builds first; the smoke test runs after the build), so
# CPack's install step does not start a build of its own in the tree that the tests are using.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARNWICK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "The Tarnwick developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file manager with quick viewers")
set(CPACK_PACKAGE_DESCRIPTION [=[Tarnwick pairs a folder tree and a file list with viewer tabs: a click on a
file shows it at once in the viewer that suits its type (text, pictures, PDF,
web pages, sound and video, office documents, zip archives). Other archives
(tar, 7z, iso, rar, cpio, deb and more) are browsed as read-only folders.
.
Tool windows: a dual file manager, a hex editor, a rich text editor, an FTP,
FTP over TLS and SFTP client, an image window and a scanner window, a
database viewer for dBASE and Paradox tables, an MP3 tag editor, checksum
files and renaming many files at once.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # the build has debug information; the package does not
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarnwick_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the program and its modules link (Qt 6 with WebEngine, Multimedia and Pdf, QScintilla,
# libarchive, libssh, pxlib, SANE, libpng, libtiff, zlib, libdeflate, ...) come from dpkg-shlibdeps; what is
# loaded or started at run time is named here. The build's test tools are not.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libqt6svg6, adwaita-icon-theme, hicolor-icon-theme, shared-mime-info")  # SVG icons, the fallback icon theme, file types
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "qt6-image-formats-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, xdg-utils, libwmf-bin")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
  "libreoffice-writer-nogui | libreoffice-writer, libreoffice-calc-nogui | libreoffice-calc, antiword, catdoc, libwps-tools, zenity | kdialog, udisks2, dosfstools, exfatprogs, sane-utils")
include(CPack)
