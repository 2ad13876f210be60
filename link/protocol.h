#pragma once

// The loader's commands as exchanges over an open link. Each returns the
// exchange's outcome when nothing came back (no reply, socket error), otherwise
// the reply check's: accepted, refused, malformed or a wrong echo. The link has
// already logged the socket failures.

#include <cstdint>

#include "link/frames.h"
#include "link/link.h"

// Reads the identity record at flash offset 0x420.
LinkOutcome ReadIdentity(BoardLink& link, IdentityBlock& identity);

// Reads frame::kReadWords words (16 bytes) of flash at `address`; the reply
// must echo the address.
LinkOutcome ReadFlashWords(BoardLink& link, std::uint32_t address, std::uint8_t (&data)[frame::kReadBytes]);

LinkOutcome EraseFlash(BoardLink& link);

// Programs 64 bytes at `address` (a multiple of 4).
LinkOutcome ProgramFlashBlock(BoardLink& link, std::uint32_t address, const std::uint8_t* data);

// Locks the flash and has the board's processor reset.
LinkOutcome LockAndReset(BoardLink& link);
