#include "station/serial_state.h"

#include <nlohmann/json.hpp>

#include "station/serial_numbers.h"

SerialState FreshState(const std::string& from) { return SerialState{from, from, false}; }

std::uint64_t SerialsLeft(const SerialState& state) {
  SerialParts next;
  if (state.exhausted || !SplitSerial(state.next, next)) return 0;
  return LargestValue(next.width) - next.value + 1;
}

bool HandedOut(const SerialState& state, const std::string& serial) {
  SerialParts first;
  SerialParts next;
  SerialParts s;
  if (!SameRange(state.first, serial) || !SplitSerial(state.first, first) || !SplitSerial(state.next, next) ||
      !SplitSerial(serial, s)) {
    return false;
  }
  return s.value >= first.value && (state.exhausted ? s.value <= next.value : s.value < next.value);
}

bool ParseSerialState(const std::string& text, const std::string& path, const std::string& from, SerialState& state,
                      std::string& error) {
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  const auto stringAt = [&j](const char* key) { return j.is_object() && j.contains(key) && j[key].is_string(); };
  if (!stringAt("first") || !stringAt("next")) {
    error = "the state file " + path + " is not a serial number state";
    return false;
  }
  // Anything but a plain true or false would be a guess about what was meant.
  if (j.contains("exhausted") && !j["exhausted"].is_boolean()) {
    error = "the state file " + path + " is not a serial number state: \"exhausted\" is neither true nor false";
    return false;
  }
  SerialState read{j["first"].get<std::string>(), j["next"].get<std::string>(), j.value("exhausted", false)};
  if (read.first != from) {
    error = "the state file " + path + " counts serial numbers from " + read.first + ", not " + from;
    return false;
  }
  // Same prefix, same width, digits only, not before first: anything else would
  // stamp a number from outside the range.
  SerialParts first;
  SerialParts next;
  if (!SameRange(read.first, read.next) || !SplitSerial(read.first, first) || !SplitSerial(read.next, next) ||
      next.value < first.value) {
    error = "the state file " + path + " holds a next serial number out of its range";
    return false;
  }
  state = read;
  return true;
}

SerialState Advanced(const SerialState& state) {
  SerialState advanced = state;
  if (!NextSerial(state.next, advanced.next)) advanced.exhausted = true;  // next stays the last one
  return advanced;
}

std::string SerialStateText(const SerialState& state) {
  nlohmann::ordered_json j{{"first", state.first}, {"next", state.next}};
  if (state.exhausted) j["exhausted"] = true;
  return j.dump() + "\n";
}
