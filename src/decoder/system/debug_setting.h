// SPDX-License-Identifier: MIT
// The system's own interface takes its debug setting from the user's profile.
#pragma once

// Reads the "Debug" value of the "Zambrel" profile section the first time it is called in
// the process; later calls keep the first answer.
void DebugReadSetting();
