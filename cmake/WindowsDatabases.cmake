# The station database for the Windows cross build: SQLite and PostgreSQL's
# client library, built from Debian's source packages by scripts/windows-db-libs
# into the build folder (once; a second configure finds them there), linked
# statically like everything else, under the names the Linux build's
# find_package gives them: SQLite::SQLite3 and PostgreSQL::PostgreSQL.
set(TOVRIN_WINDOWS_DB_DIR "${CMAKE_BINARY_DIR}/deps" CACHE PATH
    "Where scripts/windows-db-libs keeps Debian's SQLite and PostgreSQL sources and what it builds of them")
set(_db "${TOVRIN_WINDOWS_DB_DIR}")
if(NOT EXISTS "${_db}/sqlite/.built" OR NOT EXISTS "${_db}/libpq/.built")
  message(STATUS "Building SQLite and libpq for Windows from Debian's sources into ${_db} (once)")
  execute_process(COMMAND sh "${PROJECT_SOURCE_DIR}/scripts/windows-db-libs" "${_db}" RESULT_VARIABLE _built)
  if(NOT _built EQUAL 0)
    message(FATAL_ERROR "scripts/windows-db-libs failed (${_built})")
  endif()
endif()

# The amalgamation compiled here with SQLite's defaults, as Debian's library
# has them where the station cares: WAL and the busy time-out (a station shares
# one file between its slots and processes; neither may be left out), and the
# serialized threading mode. Nothing loads extensions.
enable_language(C)
add_library(tovrin_sqlite3 STATIC "${_db}/sqlite/sqlite3.c")
target_include_directories(tovrin_sqlite3 SYSTEM PUBLIC "${_db}/sqlite")
target_compile_definitions(tovrin_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
# SQLite's own code, not held to the project's warnings.
target_compile_options(tovrin_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS tovrin_sqlite3)

add_library(PostgreSQL::PostgreSQL STATIC IMPORTED GLOBAL)
set_target_properties(PostgreSQL::PostgreSQL PROPERTIES
  IMPORTED_LOCATION "${_db}/libpq/lib/libtovrin_pq.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_db}/libpq/include"
  # libpq's sockets, its Windows authentication, its home-folder look-up and
  # the user name it defaults to.
  INTERFACE_LINK_LIBRARIES "ws2_32;secur32;shell32;advapi32")
