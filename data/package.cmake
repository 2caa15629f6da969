# The Debian package (scripts/package runs cpack -G DEB). Its dependencies
# are found by dpkg-shlibdeps (Debian's dpkg-dev) from the programs' linked
# libraries; what Qt loads as plugins is named by hand.
set(CPACK_PACKAGE_NAME sorvane)
set(CPACK_PACKAGE_VENDOR "Brannock Ltd")
set(CPACK_PACKAGE_CONTACT "Brannock Ltd <support@brannock.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compare the versions of the files in two folders")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://brannock.example/")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brannock Ltd <support@brannock.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's icons are SVG, drawn by Qt's SVG icon engine plugin.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Sorvane compares the versions of the files in two folders. It reads the
Windows version resources of executables and libraries (PE and NE), the
naming table of TrueType fonts and type libraries, pairs each source file
with the file of the same relative path under the target folder and marks
the pair: newer source, newer target, unequal language, different size,
orphan or equal. Newer files can be copied onto the target with a backup of
each replaced file, and a listing can be saved as a Source Map to compare
another folder against later.
.
This package holds the window program sorvane and the command-line tool
sorvane-cli.")

include(CPack)
