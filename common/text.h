#pragma once

// Bytes as text, the few ways every front end needs: for a terminal, for hex,
// for JSON, and the identity record's one-byte characters for a window.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <chrono>

// Bytes outside printable ASCII as \xHH, so a blank record (0xFF) or a stray
// control byte shows as such and cannot drive the terminal that shows it.
std::string Printable(std::string_view bytes);

// Upper-case hex pairs with no separator ("42313233...").
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);
inline std::string HexBytes(std::string_view bytes) {
  return HexBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

bool IsUtf8(std::string_view bytes);

// The bytes as UTF-8 text for JSON: themselves when they are UTF-8; otherwise
// each byte that is not part of a UTF-8 character, and each backslash, as \xHH,
// so nothing is replaced by U+FFFD and the text stays readable.
std::string Utf8OrEscaped(std::string_view bytes);

// The identity record holds one byte per character: shown to an operator each
// byte is the character of that number (Latin-1), and typed text goes back the
// same way, so a blank record's 0xFF bytes come back as 0xFF.
std::string Latin1ToUtf8(std::string_view bytes);
// Empty when the text holds a character above U+00FF, which no byte can carry,
// or is not UTF-8.
std::optional<std::string> Utf8ToLatin1(std::string_view text);

// A message without the line end a message box's or a log's text carries, for
// a place that ends the line itself.
std::string MessageText(std::string text);

// A UTC time as the records and the station database write it,
// "2026-12-08T10:30:00.000Z": times in this form compare as text.
std::string UtcText(std::chrono::sys_time<std::chrono::milliseconds> at);
