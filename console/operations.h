#pragma once

// Steps that the Disconnect and Program operations share.

#include "console/console.h"
#include "run/program_run.h"

// Closes the link, telling the operator when the close is refused.
void CloseConsoleLink(ConsoleState& state, ConsoleWindow& window);

// Clears the identity and link type, shows the fields and leaves only CONNECT
// among the link buttons: where Disconnect and every Program run end.
void ShowDisconnected(ConsoleState& state, ConsoleWindow& window);

// The revision and serial number as the operator left them, as the record's
// bytes: edits are what the board gets.
RunRequest StampOf(const ConsoleFields& fields);
