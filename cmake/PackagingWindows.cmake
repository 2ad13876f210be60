# The Windows packages, from the cross build (scripts/test-windows makes both):
#   cpack -G ZIP    tovrin-<version>-win64.zip: the exes (tovrin-station.exe among them), README.txt and the Wireshark
#                   dissector varnel.lua in one folder
#   cpack -G NSIS   tovrin-<version>-win64.exe: an installer for Program Files, with a
#                   Start-menu folder and an uninstaller (Apps & features lists it)
# The executables install at the top of the package (CMAKE_INSTALL_BINDIR is "."),
# beside the README.

set(CPACK_PACKAGE_NAME "Tovrin")
set(CPACK_PACKAGE_VENDOR "Tovrin developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Flash programmer for the Varnel board over its network loader")
set(CPACK_PACKAGE_FILE_NAME "tovrin-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tovrin")
# The registry key; without a version in it, a newer
# release finds the older one and uninstalls it first.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Tovrin")
set(CPACK_STRIP_FILES ON)

# Notepad before Windows 10 1809 shows a file with bare line feeds as one line.
file(READ "${PROJECT_SOURCE_DIR}/docs/README-Windows.txt" _tovrin_readme)
string(REPLACE "\n" "\r\n" _tovrin_readme "${_tovrin_readme}")
file(WRITE "${CMAKE_BINARY_DIR}/README.txt" "${_tovrin_readme}")
install(FILES "${CMAKE_BINARY_DIR}/README.txt" DESTINATION .)
# The Wireshark dissector; README.txt says which folder it goes into.
install(FILES "${PROJECT_SOURCE_DIR}/tools/wireshark/varnel.lua" DESTINATION .)

# A 64-bit installer for 64-bit programs: it writes the 64-bit registry view,
# and a 64-bit-only Wine can run it in scripts/test-windows.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "Tovrin")  # also the Start-menu folder's name
set(CPACK_NSIS_DISPLAY_NAME "Tovrin ${PROJECT_VERSION}")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MENU_LINKS "README.txt" "Tovrin README")
# The window gets the Start-menu entry once it is built (tovrin.exe); the
# station has one too (it opens a console, which says how to give it a line).
set(CPACK_PACKAGE_EXECUTABLES "tovrin-station" "Tovrin Station")
if(TARGET tovrin)
  list(PREPEND CPACK_PACKAGE_EXECUTABLES "tovrin" "Tovrin")
endif()

include(CPack)
