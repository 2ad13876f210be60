#pragma once

// The STATE file that remembers a station's serial numbers across runs, crashes
// and power cuts. STATE is one JSON object:
//   {"first": "SN0001", "next": "SN0004"}
// "first" is where the range began, "next" the number the next board gets; every
// number from first up to (not including) next has been handed out. After the
// range's last number was handed out, "exhausted": true is added and "next" is
// that last number. Numbers handed out ahead of "next" (scanned from labels)
// are listed in "given" until "next" reaches them:
//   {"first": "SN0001", "next": "SN0004", "given": ["SN0009"]} These functions only read and write the text; the file, its
// lock and its durable replacement are the state store's.

#include <cstdint>
#include <string>
#include <vector>

struct SerialState {
  std::string first;
  std::string next;
  bool exhausted = false;
  std::vector<std::string> given;  // ahead of next, in order
};

// A fresh range that starts at `from`.
SerialState FreshState(const std::string& from);

// How many numbers may still be handed out, `next` included (0 when exhausted).
std::uint64_t SerialsLeft(const SerialState& state);

// True when `serial` lies in the range already handed out from this state.
bool HandedOut(const SerialState& state, const std::string& serial);

// Parses STATE's text and checks it against the range `from` starts (empty:
// whatever range the file counts): false with the reason (which names `path`)
// when it is not a state of that range.
bool ParseSerialState(const std::string& text, const std::string& path, const std::string& from, SerialState& state,
                      std::string& error);

// The state after handing out state.next: the next number not given already,
// or the last one marked exhausted. The state must not be exhausted.
SerialState Advanced(const SerialState& state);

// The state after handing out `serial`, a number of its range not handed out
// before (HandedOut false): next itself advances, any other is kept in "given".
SerialState WithGiven(const SerialState& state, const std::string& serial);

// The file's text, one line.
std::string SerialStateText(const SerialState& state);
