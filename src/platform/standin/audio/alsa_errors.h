// SPDX-License-Identifier: MIT
// ALSA's own error lines, kept off the user's terminal while SDL opens its audio.
#pragma once

namespace standin::audio {

// While one lives, alsa-lib (which SDL's ALSA driver uses) writes nothing of its own: on a
// machine without a sound card it writes line after line as SDL tries its devices, while
// the player already says in one line that no device opened and how to choose one. Whatever
// handler was in place comes back after, so a program embedding the library that set its
// own keeps it, and errors of a device that did open are heard. Nothing is hidden when the
// profile's Debug setting asks for detail, or when the machine has no alsa-lib.
class AlsaErrorsHidden {
  public:
    AlsaErrorsHidden();
    ~AlsaErrorsHidden();
    AlsaErrorsHidden(const AlsaErrorsHidden&) = delete;
    AlsaErrorsHidden& operator=(const AlsaErrorsHidden&) = delete;

  private:
    // The handler to put back, as a function pointer of no particular type (alsa-lib's own
    // is variadic and needs none of its headers here); null when none was replaced.
    void (*previous_)() = nullptr;
};

}  // namespace standin::audio
