#pragma once

// The loader's commands as exchanges over an open link. Each returns 0 when the
// board gave the expected reply and 1 otherwise: a socket failure, a time-out, a
// wrong length, a refusal and a wrong echo all end the same way for the caller,
// and the link has already logged the socket failures.

#include <cstdint>

#include "link/frames.h"
#include "link/link.h"

// Reads the identity record at flash offset 0x420.
int ReadIdentity(LinkHandle link, IdentityBlock& identity, int mode);

int EraseFlash(LinkHandle link, int mode);

// Programs 64 bytes at `address` (a multiple of 4).
int ProgramFlashBlock(LinkHandle link, int mode, std::uint32_t address, const std::uint8_t* data);

// Locks the flash and has the board's processor reset.
int LockAndReset(LinkHandle link, int mode);
