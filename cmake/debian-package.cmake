# The Debian package, built by `cpack -G DEB` from a build configured for /usr
# (scripts/package): the files the install rules name, its dependencies worked out by
# dpkg-shlibdeps from the libraries the program links, the binary stripped.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlemaz)
set(CPACK_PACKAGE_CONTACT "${ORLEMAZ_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive 3D table-football model")
set(CPACK_PACKAGE_DESCRIPTION "ORLEMAZ is a table-football (foosball) table to turn over and
play with on the screen: a 3D model drawn with OpenGL in one window, with a
console beside it that traces in Spanish what the user does. Click a rod to
turn and slide it with the mouse, and put on a ball that bounces off the walls
and off every player whose rod hangs down. There are no goals and no score.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
