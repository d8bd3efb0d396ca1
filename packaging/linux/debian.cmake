# The Debian package of the Linux programs (`make package-linux`): the
# desktop program, velmora-cli with the watch service's unit and settings,
# the menu entry, icons, manual pages and metainfo, as the install rules of
# frontend/qt and frontend/cli place them. Included by the top-level
# CMakeLists.txt when the desktop program is built.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora developers <velmora-developers@users.noreply.github.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://github.com/velmora/velmora)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Restores the MPEG header of each follow-up file of a recording")
# The lines after the summary; CPack indents them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A recorder that splits a recording into Film.mpg, Film#1.mpg, ... often
leaves the follow-up files without a usable header. Velmora writes a good
header over the start of each one, in place, the moment the recorder has
let go of it. The package holds the desktop program (velmora), the
command-line program (velmora-cli: make-header, check, repair, watch) and a
systemd unit for the watch service (velmora-watch@USER, not enabled).")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the binary links come from dpkg-shlibdeps (libqt6gui6 brings
# the X11 platform plugin along); a font is needed beyond them. The menu
# entry finds the videos folder with xdg-user-dir, and the home folder
# without it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-user-dirs")
# The watch service's settings are the administrator's: kept on upgrades.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/conffiles)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
include(CPack)
