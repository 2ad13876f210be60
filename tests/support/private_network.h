#pragma once

// Moves the calling process into a network namespace of its own, where only the
// loopback interface exists, carrying 127.0.0.1 and the board's fixed address.
// Tests call it before anything else, so nothing they send can leave the machine,
// and each test process gets its own ports. Aborts the process when that cannot be
// done or when any other interface is visible afterwards.
// On Windows (under Wine) it checks instead that the process already runs in
// such a namespace, as scripts/test-windows arranges, and exits otherwise.
void EnterPrivateNetwork();

// True once EnterPrivateNetwork has moved the process (or, under Wine, found
// it) inside such a namespace: what a test checks before it adds interfaces.
bool InPrivateNetwork();
