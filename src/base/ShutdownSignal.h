#pragma once

// The request to end a process that runs until it is told to stop: SIGINT (Ctrl-C) or
// SIGTERM (systemd, kill). block() must run on the main thread before any other thread
// starts, so that every thread inherits the mask and the signal is only ever taken by
// wait(); the process then ends through its orderly path instead of being cut off.
namespace ShutdownSignal {

void block();
// Waits for SIGINT or SIGTERM and returns its number.
int wait();
// Sends SIGTERM to this process (for a command that ends the station from inside).
void raise();

}  // namespace ShutdownSignal
