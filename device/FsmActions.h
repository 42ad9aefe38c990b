#pragma once

// The transition actions of the connection state machine. Each receives the MIDIUSBFsm
// (as an untyped pointer) and the event's payload.

void fsmScanDevices (void* fsm, void* payload);
void fsmConnect (void* fsm, void* payload);
void fsmSend (void* fsm, void* payload);
void fsmDeliver (void* fsm, void* payload);
void fsmCheckPresence (void* fsm, void* payload);
void fsmDisconnect (void* fsm, void* payload);
void fsmCloseIgnored (void* fsm, void* payload);
void fsmBackOff (void* fsm, void* payload);
void fsmNoAction (void* fsm, void* payload);

/** Ticks spent in the disconnected state before the search resumes. */
constexpr int backOffTicks = 26;
