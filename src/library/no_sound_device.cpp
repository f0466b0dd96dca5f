// SPDX-License-Identifier: MIT
// For builds of the decoding core alone (no sound device, as in a web page): the system's own
// interface then has no wave-output driver to install, so its sound tracks do not open and
// its movies are paced by the clock. Decoder handles never use a driver either way.
bool SoundInstallWaveOut() { return false; }
