// SPDX-License-Identifier: MIT
// What a build of the decoding core alone (no window system and no sound device, as in a
// web page) puts in place of the parts it leaves out. The system's own interface then has
// no wave-output driver to install, so its sound tracks do not open and its movies are
// paced by the clock; the stand-in has no optional components to offer. Decoder handles use
// none of these either way.
bool SoundInstallWaveOut() {
    return false;
}

namespace standin {
bool RegisterGraphicsComponents() {
    return false;
}
bool AnswerSoundsWindowQuestions() {
    return false;
}
bool RegisterSoundComponents() {
    return false;
}
}  // namespace standin
