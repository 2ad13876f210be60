#include "station_ui/page_files.h"

namespace station_ui {

const PageFile* FindPageFile(std::string_view path) {
  if (path == "/") path = "/index.html";
  for (std::size_t i = 0; i < kPageFileCount; ++i) {
    if (path == kPageFiles[i].path) return &kPageFiles[i];
  }
  return nullptr;
}

const char* ContentTypeOf(std::string_view path) {
  auto endsWith = [path](std::string_view end) {
    return path.size() >= end.size() && path.substr(path.size() - end.size()) == end;
  };
  if (endsWith(".html")) return "text/html; charset=utf-8";
  if (endsWith(".css")) return "text/css; charset=utf-8";
  if (endsWith(".js")) return "text/javascript; charset=utf-8";
  if (endsWith(".svg")) return "image/svg+xml";
  return "application/octet-stream";
}

}  // namespace station_ui
