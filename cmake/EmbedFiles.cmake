# Writes a C++ source that holds files' bytes, for a program that serves them
# from itself. Run as a script at build time:
#   cmake -DOUTPUT=out.cpp -DBASE=dir -DFILES="a.html;b.css" -DHEADER=x/page_files.h -P EmbedFiles.cmake
# Each file becomes one entry of kPageFiles, named by its path under BASE with a
# leading "/".
set(_text "// Made at build time by cmake/EmbedFiles.cmake; do not edit.\n#include \"${HEADER}\"\n\nnamespace station_ui {\nnamespace {\n")
set(_table "")
set(_index 0)
foreach(_file IN LISTS FILES)
  file(READ "${BASE}/${_file}" _hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" _bytes "${_bytes}")
  string(LENGTH "${_hex}" _digits)
  math(EXPR _size "${_digits} / 2")
  string(APPEND _text "const unsigned char kFile${_index}[] = {\n${_bytes}};\n")
  string(APPEND _table "    {\"/${_file}\", kFile${_index}, ${_size}},\n")
  math(EXPR _index "${_index} + 1")
endforeach()
string(APPEND _text "}  // namespace\n\nconst PageFile kPageFiles[] = {\n${_table}};\nconst std::size_t kPageFileCount = ${_index};\n\n}  // namespace station_ui\n")
# Written only when it changed, so that an unchanged page rebuilds nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" _old)
endif()
if(NOT "${_old}" STREQUAL "${_text}")
  file(WRITE "${OUTPUT}" "${_text}")
endif()
