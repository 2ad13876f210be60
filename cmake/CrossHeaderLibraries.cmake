# CLI11, nlohmann-json and the Boost headers are header-only, but their Debian config packages put
# /usr/include on the include path, and under the mingw toolchain that pulls
# glibc's headers into a Windows build. Here each gets a folder that holds only
# its own headers (a link to the build machine's copy) and a config package of
# our own with an imported target, so that the usual
# find_package(CLI11 CONFIG) and find_package(nlohmann_json 3 CONFIG) find it.

set(_tovrin_headers "${CMAKE_BINARY_DIR}/cross-headers")
set(_tovrin_packages "${CMAKE_BINARY_DIR}/cross-packages")

# tovrin_cross_header_library(PACKAGE name TARGET target FOLDER folder
#   VERSION_HEADER file VERSION_REGEX regex...)
function(tovrin_cross_header_library)
  cmake_parse_arguments(H "" "PACKAGE;TARGET;FOLDER;VERSION_HEADER" "VERSION_REGEX" ${ARGN})
  find_path(_source "${H_FOLDER}/${H_VERSION_HEADER}" PATHS /usr/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT _source)
    message(FATAL_ERROR "${H_PACKAGE}: ${H_FOLDER}/${H_VERSION_HEADER} not found in /usr/include")
  endif()
  file(MAKE_DIRECTORY "${_tovrin_headers}")
  file(CREATE_LINK "${_source}/${H_FOLDER}" "${_tovrin_headers}/${H_FOLDER}" SYMBOLIC)

  # The version, major.minor.patch, from the library's own header.
  file(READ "${_source}/${H_FOLDER}/${H_VERSION_HEADER}" _text)
  set(_parts "")
  foreach(_regex IN LISTS H_VERSION_REGEX)
    if(NOT _text MATCHES "${_regex}")
      message(FATAL_ERROR "${H_PACKAGE}: no version in ${H_VERSION_HEADER}")
    endif()
    list(APPEND _parts "${CMAKE_MATCH_1}")
  endforeach()
  list(JOIN _parts "." _version)

  set(_dir "${_tovrin_packages}/${H_PACKAGE}")
  file(WRITE "${_dir}/${H_PACKAGE}Config.cmake"
    "if(NOT TARGET ${H_TARGET})\n"
    "  add_library(${H_TARGET} INTERFACE IMPORTED)\n"
    "  set_target_properties(${H_TARGET} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${_tovrin_headers}\")\n"
    "endif()\n")
  include(CMakePackageConfigHelpers)
  write_basic_package_version_file("${_dir}/${H_PACKAGE}ConfigVersion.cmake"
    VERSION "${_version}" COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
  set(${H_PACKAGE}_DIR "${_dir}" CACHE PATH "${H_PACKAGE}: headers only, for the cross build" FORCE)
  unset(_source CACHE)
endfunction()

tovrin_cross_header_library(PACKAGE CLI11 TARGET CLI11::CLI11 FOLDER CLI VERSION_HEADER Version.hpp
  VERSION_REGEX "#define CLI11_VERSION_MAJOR ([0-9]+)" "#define CLI11_VERSION_MINOR ([0-9]+)"
                "#define CLI11_VERSION_PATCH ([0-9]+)")
tovrin_cross_header_library(PACKAGE nlohmann_json TARGET nlohmann_json::nlohmann_json FOLDER nlohmann
  VERSION_HEADER detail/abi_macros.hpp
  VERSION_REGEX "#define NLOHMANN_JSON_VERSION_MAJOR ([0-9]+)" "#define NLOHMANN_JSON_VERSION_MINOR ([0-9]+)"
                "#define NLOHMANN_JSON_VERSION_PATCH ([0-9]+)")
# Boost.Asio and Boost.Beast for the station's web server, used from headers alone.
tovrin_cross_header_library(PACKAGE Boost TARGET Boost::headers FOLDER boost VERSION_HEADER version.hpp
  VERSION_REGEX "#define BOOST_LIB_VERSION \"([0-9]+)_" "#define BOOST_LIB_VERSION \"[0-9]+_([0-9]+)\""
                "#define BOOST_VERSION [0-9]+([0-9][0-9])\n")
