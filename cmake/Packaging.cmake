# The Debian package: `cpack -G DEB` in a build tree (a release build, so the
# binaries carry no sanitizer runtime) gives tovrin_<version>_<arch>.deb with
# the window, tovrin-cli, tovrin-station and varnel-sim, and whatever each target installs
# beside its binary (desktop entry, icons, AppStream metadata, manual pages),
# and the Wireshark dissector.
# scripts/package builds it and holds it to lintian.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME "tovrin")
set(CPACK_PACKAGE_VENDOR "Tovrin developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flash programmer for the Varnel board over its network loader")
# One string: separate arguments would become a CMake list joined by ';'.
set(CPACK_PACKAGE_DESCRIPTION "Tovrin reprograms the 128 KiB flash of a networked Varnel board from a
Motorola S-record file over the board's resident loader (UDP, with TCP as
fallback). The package holds the Tovrin window, the tovrin-cli command for
scripts, test stations and production lines, tovrin-station, which runs a
line and shows it on a page in the browser, and varnel-sim, a simulated
board for trying both without hardware.")
set(CPACK_PACKAGE_CONTACT "Tovrin developers <dev@tovrin.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

# The README and the guides it links to travel with the package (the guides in
# docs/ beside it, so that its links hold), with the copyright (machine-readable)
# and the changelog, gzipped without a time stamp as Debian wants it.
set(TOVRIN_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/tovrin")
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/packaging/copyright"
        DESTINATION "${TOVRIN_DOC_DIR}")
set(TOVRIN_GUIDES window.md line.md command-line.md station-database.md engineers-kit.md run-record.md
  station.md station-api.md)
list(TRANSFORM TOVRIN_GUIDES PREPEND "${PROJECT_SOURCE_DIR}/docs/")
install(FILES ${TOVRIN_GUIDES} DESTINATION "${TOVRIN_DOC_DIR}/docs")
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(changelog "${PROJECT_BINARY_DIR}/packaging/changelog")
add_custom_command(OUTPUT "${changelog}.gz"
  COMMAND "${CMAKE_COMMAND}" -E copy "${TOVRIN_CHANGELOG}" "${changelog}"
  COMMAND "${GZIP_EXECUTABLE}" -9n --force "${changelog}"
  DEPENDS "${TOVRIN_CHANGELOG}"
  VERBATIM)
add_custom_target(changelog ALL DEPENDS "${changelog}.gz")
install(FILES "${changelog}.gz" DESTINATION "${TOVRIN_DOC_DIR}")

# The loader's Wireshark dissector, where Debian's Wireshark loads Lua plugins
# for every user (tshark -G folders: "Global Lua Plugins").
install(FILES "${PROJECT_SOURCE_DIR}/tools/wireshark/varnel.lua"
        DESTINATION "lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins")

set(CPACK_DEBIAN_PACKAGE_NAME "tovrin")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The shared libraries each binary links (Qt, libcrypto, libstdc++) become the
# package's dependencies, read off the binaries by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Wireshark or tshark reads what the dissector and tovrin-cli --pcap give.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark | tshark")

include(CPack)
