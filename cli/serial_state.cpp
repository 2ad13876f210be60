#include "cli/serial_state.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>

#include "cli/durable_file.h"
#include "common/system_text.h"
#include "vocabulary/vocabulary.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the trailing digits begin.
std::size_t DigitsAt(const std::string& serial) {
  std::size_t at = serial.size();
  while (at > 0 && IsDigit(serial[at - 1])) --at;
  return at;
}

}  // namespace

bool NextSerial(const std::string& serial, std::string& next) {
  if (DigitsAt(serial) == serial.size()) return false;
  next = serial;
  for (std::size_t i = next.size(); i-- > DigitsAt(serial);) {
    if (next[i] != '9') {
      ++next[i];
      return true;
    }
    next[i] = '0';
  }
  return false;  // all 9s: the width would grow
}

std::uint64_t SerialsLeft(const SerialState& state) {
  if (state.exhausted) return 0;
  const std::size_t at = DigitsAt(state.next);
  std::uint64_t left = 1;
  // 9...9 minus the number, plus one; serial numbers are short enough for 64 bits.
  std::uint64_t value = 0;
  std::uint64_t largest = 0;
  for (std::size_t i = at; i < state.next.size(); ++i) {
    value = value * 10 + static_cast<std::uint64_t>(state.next[i] - '0');
    largest = largest * 10 + 9;
  }
  left += largest - value;
  return left;
}

bool HandedOut(const SerialState& state, const std::string& serial) {
  const std::size_t at = DigitsAt(state.first);
  if (serial.size() != state.first.size() || serial.compare(0, at, state.first, 0, at) != 0) return false;
  for (std::size_t i = at; i < serial.size(); ++i) {
    if (!IsDigit(serial[i])) return false;
  }
  // Same prefix and width: the digits compare as the numbers do.
  return serial >= state.first && (state.exhausted ? serial <= state.next : serial < state.next);
}

bool LoadSerialState(const std::string& path, const std::string& from, SerialState& state, std::string& error) {
  if (from.size() > static_cast<std::size_t>(kSerialNumberMax) || DigitsAt(from) == from.size()) {
    error = "the serial number " + from + " does not end in digits that can count up";
    return false;
  }
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) {
    state = SerialState{from, from, false};
    return true;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object() || !j.contains("first") || !j["first"].is_string() || !j.contains("next") ||
      !j["next"].is_string()) {
    error = "the state file " + path + " is not a serial number state";
    return false;
  }
  state.first = j["first"].get<std::string>();
  state.next = j["next"].get<std::string>();
  state.exhausted = j.value("exhausted", false);
  if (state.first != from) {
    error = "the state file " + path + " counts serial numbers from " + state.first + ", not " + from;
    return false;
  }
  if (state.next.size() != state.first.size() || !(state.first <= state.next)) {
    error = "the state file " + path + " holds a next serial number out of its range";
    return false;
  }
  return true;
}

bool TakeSerial(const std::string& path, SerialState& state, std::string& serial, std::string& error) {
  if (state.exhausted) {
    error = "the serial numbers from " + state.first + " are used up (the last was " + state.next + ")";
    return false;
  }
  SerialState advanced = state;
  if (!NextSerial(state.next, advanced.next)) advanced.exhausted = true;  // next stays the last one
  nlohmann::ordered_json j{{"first", advanced.first}, {"next", advanced.next}};
  if (advanced.exhausted) j["exhausted"] = true;
  if (!ReplaceFileDurably(path, j.dump() + "\n", error)) return false;
  serial = state.next;
  state = advanced;
  return true;
}
