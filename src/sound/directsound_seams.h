// SPDX-License-Identifier: MIT
// Test control of the DirectSound driver; never used by the system itself.
#pragma once

// Forgets the player's window and the service's schedule, so that a test starting a fresh
// clock finds the driver as a new process would. Every track must be closed.
void DirectSoundForgetState();
