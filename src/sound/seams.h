// SPDX-License-Identifier: MIT
// Test controls of the sound layer; never used by the system itself.
#pragma once

// Empties the operation table, so that a test can install a driver of its choice. Every
// track must be closed.
void SoundForgetDriver();
