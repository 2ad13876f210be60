#pragma once

// The serial numbers a batch hands out, and the STATE file that remembers them
// across runs, crashes and power cuts. A serial number ends in digits that count
// up with their width kept (SN0099, SN0100); when they are all 9s the range is
// used up. STATE is one JSON object:
//   {"first": "SN0001", "next": "SN0004"}
// "first" is where the range began, "next" the number the next board gets; every
// number from first up to (not including) next has been handed out. After the
// range's last number was handed out, "exhausted": true is added and "next" is
// that last number.

#include <cstdint>
#include <string>

struct SerialState {
  std::string first;
  std::string next;
  bool exhausted = false;
};

// The number after `serial`, width kept: false when it has no trailing digits or
// they are all 9s.
bool NextSerial(const std::string& serial, std::string& next);

// How many numbers may still be handed out, `next` included (0 when exhausted).
std::uint64_t SerialsLeft(const SerialState& state);

// True when `serial` lies in the range already handed out from this state.
bool HandedOut(const SerialState& state, const std::string& serial);

// Reads the state; a missing file gives a fresh range starting at `from`. A
// state whose range began elsewhere, or that cannot be read, is an error (false
// with the reason).
bool LoadSerialState(const std::string& path, const std::string& from, SerialState& state, std::string& error);

// Hands out state.next: advances the state and makes it durable before the
// caller erases anything. False (state unchanged) when the range is used up or
// the file cannot be replaced.
bool TakeSerial(const std::string& path, SerialState& state, std::string& serial, std::string& error);
