#pragma once

// Process start: one instance per user, the main window, the message loop.
// Returns the exit code: 0 for a normal run, 1 when a running instance took
// over the request.
int RunApplication(int argc, char** argv);
