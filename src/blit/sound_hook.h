// SPDX-License-Identifier: MIT
// The blitter's way to keep the decoder's sound flowing around its long table builds
// without depending on the decoder: the library installs the service here.
#pragma once

using BlitSoundService = void (*)();

// Installs the service every later long build calls (null: none). Any thread.
void BlitInstallSoundService(BlitSoundService service);
// Calls the installed service, if any.
void BlitServiceSound();
