// The window of the simulated device: one lit tile per LED and a log of the
// last datagrams.
#pragma once

#include "device.h"
#include "options.h"
#include "server.h"

// Shows the window, starts the server and runs the message loop until the
// window is closed (or --seconds ran out); stops the server before it
// returns. False when the window or the server thread cannot be created.
bool RunWindow(const SimOptions& options, SimDevice& device, Server& server);

// Asks the window, if there is one, to close. Safe from any thread.
void RequestWindowClose();
