#include "station/serial_state.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "station/serial_numbers.h"

SerialState FreshState(const std::string& from) { return SerialState{from, from, false, {}}; }

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
  if (s.value >= first.value && (state.exhausted ? s.value <= next.value : s.value < next.value)) return true;
  for (const std::string& given : state.given) {
    if (given == serial) return true;
  }
  return false;
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
  SerialState read{j["first"].get<std::string>(), j["next"].get<std::string>(), j.value("exhausted", false), {}};
  if (!from.empty() && read.first != from) {
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
  // A given number outside the range, or one "next" already passed, would
  // mean the file was not written by a station: nothing in it is trusted.
  if (j.contains("given")) {
    const nlohmann::json& given = j["given"];
    bool usable = given.is_array();
    for (std::size_t i = 0; usable && i < given.size(); ++i) {
      SerialParts g;
      usable = given[i].is_string() && SameRange(read.first, given[i].get<std::string>()) &&
               SplitSerial(given[i].get<std::string>(), g) && g.value > next.value;
      if (usable) read.given.push_back(given[i].get<std::string>());
    }
    if (!usable) {
      error = "the state file " + path + " holds a given serial number out of its range";
      return false;
    }
  }
  state = read;
  return true;
}

namespace {

// Removes `serial` from the given numbers: true when it was one.
bool TakeGiven(SerialState& state, const std::string& serial) {
  for (auto it = state.given.begin(); it != state.given.end(); ++it) {
    if (*it == serial) {
      state.given.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

SerialState Advanced(const SerialState& state) {
  SerialState advanced = state;
  // Numbers given ahead of next were handed out already: next steps over them.
  do {
    if (!NextSerial(advanced.next, advanced.next)) {
      advanced.exhausted = true;  // next stays the last one
      break;
    }
  } while (TakeGiven(advanced, advanced.next));
  // Past the range's end a given number (the last one) is handed out anyway.
  if (advanced.exhausted) TakeGiven(advanced, advanced.next);
  return advanced;
}

SerialState WithGiven(const SerialState& state, const std::string& serial) {
  if (serial == state.next) return Advanced(state);
  SerialState given = state;
  given.given.push_back(serial);
  std::sort(given.given.begin(), given.given.end());  // one width: text order is number order
  return given;
}

std::string SerialStateText(const SerialState& state) {
  nlohmann::ordered_json j{{"first", state.first}, {"next", state.next}};
  if (state.exhausted) j["exhausted"] = true;
  if (!state.given.empty()) j["given"] = state.given;
  return j.dump() + "\n";
}
