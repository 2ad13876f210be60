#pragma once

// The page's files, built into the program (cmake/EmbedFiles.cmake), so the
// station serves exactly the page it was built with and needs nothing beside it.

#include <cstddef>
#include <string_view>

namespace station_ui {

struct PageFile {
  const char* path;  // "/index.html"
  const unsigned char* data;
  std::size_t size;
};

extern const PageFile kPageFiles[];
extern const std::size_t kPageFileCount;

// The file served at `path` ("/" is /index.html); nullptr when there is none.
const PageFile* FindPageFile(std::string_view path);

// By the file name's ending; the page uses no others.
const char* ContentTypeOf(std::string_view path);

}  // namespace station_ui
