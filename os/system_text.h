#pragma once

// File names and command-line arguments are UTF-8 everywhere inside the tool.
// Where they meet the system: POSIX takes the bytes as they are; Windows takes
// UTF-16 through its wide calls, since its narrow ones would pass the text
// through the ANSI code page, where Cyrillic or CJK names do not survive.

#include <filesystem>
#include <string>
#include <string_view>

// A UTF-8 file name as the system's path, for the standard library's streams,
// and back.
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

#ifdef _WIN32
// Text that is not valid UTF-8 (or UTF-16) comes out with U+FFFD in place of
// each bad sequence; nothing is dropped silently.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
#endif
