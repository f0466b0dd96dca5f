// SPDX-License-Identifier: MIT
// The system's own interface lends the decoding core the platform's services.
#pragma once

// Installs the platform's clock, sleep, wave-output driver and file reading as the core's
// host services (decoder/host.h). ZambOpen does it before every open; tests that drive the
// core's pacing or sound by hand do it themselves.
void InstallPlatformServices();
