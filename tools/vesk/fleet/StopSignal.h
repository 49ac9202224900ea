#pragma once

// Ctrl+C and SIGTERM (a console control event on Windows) ask a long-running
// command to stop at its next safe point instead of killing it mid-change.
namespace vesk_fleet {

// Installs the handlers for a command about to wait long; it starts with no stop asked.
void installStopHandlers();
bool stopRequested();
// Asks the same stop from within, as a Windows service's stop control does.
void requestStop();

} // namespace vesk_fleet
