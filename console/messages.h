#pragma once

// Everything the console says to the operator, word for word.

#include <string>

namespace msg {
constexpr const char* kConnectFailed = "Failed to connection to the Varnel board. Error = %d.\n";
constexpr const char* kIdentityFailed = "Failed to upload current Serial number and Rev.";
constexpr const char* kNoConnection = "No Connection to the Varnel board.";
constexpr const char* kNoFileName = "No File Name.";
}  // namespace msg

// Messages are formatted into a text of this many bytes.
constexpr int kMessageCapacity = 100;
std::string FormatMessage(const char* format, int value);
