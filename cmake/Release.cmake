# The release this tree builds is the project() version. The package changelog and
# the AppStream release notes are written by hand, so their newest entries are
# checked against it here: a version bump cannot ship with the old notes. The
# release date in the notes dates the manual pages, which keeps them reproducible.
set(TOVRIN_CHANGELOG "${PROJECT_SOURCE_DIR}/packaging/changelog")
set(TOVRIN_METAINFO "${PROJECT_SOURCE_DIR}/app/io.github.tovrin.Tovrin.metainfo.xml")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${TOVRIN_CHANGELOG}" "${TOVRIN_METAINFO}")

file(STRINGS "${TOVRIN_CHANGELOG}" newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^tovrin \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${TOVRIN_CHANGELOG}: the newest entry is not for version ${PROJECT_VERSION}")
endif()

file(READ "${TOVRIN_METAINFO}" metainfo)
if(NOT metainfo MATCHES "<release version=\"([^\"]+)\" date=\"([0-9]+-[0-9]+-[0-9]+)\""
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${TOVRIN_METAINFO}: the newest release is not ${PROJECT_VERSION}")
endif()
set(TOVRIN_RELEASE_DATE "${CMAKE_MATCH_2}")
