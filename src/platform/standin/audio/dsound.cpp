// SPDX-License-Identifier: MIT
// DirectSound over the mixer: each secondary buffer is a stream that plays its memory at a
// moving play cursor; the primary buffer only holds a format.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/standin/audio/devices.h"
#include "platform/standin/audio/dsound.h"
#include "platform/standin/audio/mixer.h"
#include "platform/standin/audio/seams.h"
#include "platform/standin/audio/streams.h"
#include "platform/standin/gui/user.h"

using namespace standin::audio;

namespace {

std::atomic<bool> refuseGlobalFocus{false};
std::atomic<bool> failLocks{false};

std::mutex hookLock;
std::function<void(const char*)>& Hook() {
    static std::function<void(const char*)> hook;
    return hook;
}

// Lets a test act while a program is inside a call, on whichever thread made it.
void Entered(const char* method) {
    std::function<void(const char*)> hook;
    {
        std::lock_guard<std::mutex> guard(hookLock);
        hook = Hook();
    }
    if (hook) hook(method);
}

WAVEFORMATEX DefaultPrimaryFormat() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 22050;
    format.wBitsPerSample = 8;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 44100;
    return format;
}

// Hundredths of a decibel to the mixer's linear 0..0xFFFF per channel.
DWORD GainWord(LONG volume, LONG pan) {
    auto gain = [](LONG attenuation) -> DWORD {
        if (attenuation <= DSBVOLUME_MIN) return 0;
        if (attenuation >= 0) return 0xFFFF;
        return static_cast<DWORD>(std::lround(std::pow(10.0, attenuation / 2000.0) * 0xFFFF));
    };
    DWORD left = gain(volume + (pan > 0 ? -pan : 0));
    DWORD right = gain(volume + (pan < 0 ? pan : 0));
    return left | right << 16;
}

class SoundObject;

class SoundBuffer final : public IDirectSoundBuffer {
  public:
    SoundBuffer(SoundObject* owner, DWORD flags, const WAVEFORMATEX& format, DWORD bytes);
    // Called with MixLock held, by the object's release or the buffer's own.
    void DestroyLocked();
    void SetFocusWindowLocked(HWND window) { source_.FocusWindow = window; }
    bool IsPrimary() const { return (flags_ & DSBCAPS_PRIMARYBUFFER) != 0; }

    HRESULT WINAPI QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return ++references_; }
    ULONG WINAPI Release() override;
    HRESULT WINAPI GetCaps(LPDSBCAPS caps) override;
    HRESULT WINAPI GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) override;
    // The format and the frequency are the system's own choice at creation, so it never
    // asks for them back nor changes the frequency.
    HRESULT WINAPI GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return DSERR_UNSUPPORTED; }
    HRESULT WINAPI GetVolume(LPLONG volume) override;
    HRESULT WINAPI GetPan(LPLONG pan) override;
    HRESULT WINAPI GetFrequency(LPDWORD) override { return DSERR_UNSUPPORTED; }
    HRESULT WINAPI GetStatus(LPDWORD status) override;
    HRESULT WINAPI Initialize(IDirectSound*, LPCDSBUFFERDESC) override {
        return DSERR_ALREADYINITIALIZED;
    }
    HRESULT WINAPI Lock(DWORD offset, DWORD bytes, LPVOID* audio1, LPDWORD audioBytes1,
                        LPVOID* audio2, LPDWORD audioBytes2, DWORD flags) override;
    HRESULT WINAPI Play(DWORD, DWORD, DWORD flags) override;
    HRESULT WINAPI SetCurrentPosition(DWORD newPosition) override;
    HRESULT WINAPI SetFormat(LPCWAVEFORMATEX format) override;
    HRESULT WINAPI SetVolume(LONG volume) override;
    HRESULT WINAPI SetPan(LONG pan) override;
    HRESULT WINAPI SetFrequency(DWORD) override { return DSERR_UNSUPPORTED; }
    HRESULT WINAPI Stop() override;
    HRESULT WINAPI Unlock(LPVOID audio1, DWORD audioBytes1, LPVOID audio2,
                          DWORD audioBytes2) override;
    HRESULT WINAPI Restore() override { return DS_OK; }

  private:
    ~SoundBuffer() = default;
    std::uintptr_t Key() const { return reinterpret_cast<std::uintptr_t>(this); }
    Stream* StreamLocked() { return FindStreamLocked(reinterpret_cast<HWAVEOUT>(Key())); }
    DWORD Size() const { return static_cast<DWORD>(source_.Memory.size()); }
    DWORD WriteCursorLocked() const;
    void ApplyGainLocked();

    std::atomic<ULONG> references_{1};
    SoundObject* owner_;  // guarded by MixLock
    const DWORD flags_;
    WAVEFORMATEX format_;  // guarded by MixLock
    BufferSource source_;  // what the mixer plays; guarded by MixLock
    // The program writes a locked region here; Unlock moves it into the played memory, so
    // the mixer never reads what the program is writing.
    std::vector<std::uint8_t> shadow_;
    bool locked_ = false;  // guarded by MixLock, like the lock's extent
    DWORD lockOffset_ = 0;
    DWORD lockFirst_ = 0;
    DWORD lockSecond_ = 0;
    LONG volume_ = 0;
    LONG pan_ = 0;
};

class SoundObject final : public IDirectSound {
  public:
    void ForgetBufferLocked(SoundBuffer* buffer) {
        buffers_.erase(std::remove(buffers_.begin(), buffers_.end(), buffer), buffers_.end());
    }
    HWND WindowLocked() const { return window_; }
    DWORD LevelLocked() const { return level_; }

    HRESULT WINAPI QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return ++references_; }
    ULONG WINAPI Release() override;
    HRESULT WINAPI CreateSoundBuffer(LPCDSBUFFERDESC desc, LPLPDIRECTSOUNDBUFFER buffer,
                                     IUnknown* outer) override;
    HRESULT WINAPI GetCaps(LPDSCAPS caps) override;
    HRESULT WINAPI DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER,
                                        LPLPDIRECTSOUNDBUFFER duplicate) override {
        if (duplicate) *duplicate = nullptr;
        return DSERR_UNSUPPORTED;
    }
    HRESULT WINAPI SetCooperativeLevel(HWND window, DWORD level) override;
    HRESULT WINAPI Compact() override { return DS_OK; }
    HRESULT WINAPI GetSpeakerConfig(LPDWORD speakerConfig) override {
        if (!speakerConfig) return DSERR_INVALIDPARAM;
        *speakerConfig = DSSPEAKER_STEREO;
        return DS_OK;
    }
    HRESULT WINAPI SetSpeakerConfig(DWORD) override { return DS_OK; }
    HRESULT WINAPI Initialize(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }

  private:
    ~SoundObject() = default;
    HRESULT CheckDescription(LPCDSBUFFERDESC desc) const;

    std::atomic<ULONG> references_{1};
    HWND window_ = nullptr;  // guarded by MixLock, like the level and the buffers
    DWORD level_ = 0;
    std::vector<SoundBuffer*> buffers_;

    friend class SoundBuffer;
};

SoundBuffer::SoundBuffer(SoundObject* owner, DWORD flags, const WAVEFORMATEX& format, DWORD bytes)
    : owner_(owner), flags_(flags), format_(format) {
    if (IsPrimary()) return;
    const std::uint8_t silence = format.wBitsPerSample == 8 ? 0x80 : 0;
    source_.Memory.assign(bytes, silence);
    shadow_.assign(bytes, silence);
    source_.GlobalFocus = (flags & DSBCAPS_GLOBALFOCUS) != 0;
    source_.FocusWindow = owner->WindowLocked();
    Stream& stream = StreamsLocked()[Key()];
    stream.Format = format;
    stream.Buffer = &source_;
    if (RecordingLocked()) {
        stream.Recording = static_cast<int>(RecordsLocked().size());
        RecordsLocked().push_back({format, {}});
    }
}

void SoundBuffer::DestroyLocked() {
    if (!IsPrimary()) StreamsLocked().erase(Key());
    if (owner_) owner_->ForgetBufferLocked(this);
    owner_ = nullptr;
    delete this;
}

ULONG WINAPI SoundBuffer::Release() {
    Entered("Release");
    ULONG left = --references_;
    if (left == 0) {
        std::lock_guard<std::mutex> guard(MixLock());
        DestroyLocked();
    }
    return left;
}

HRESULT WINAPI SoundBuffer::GetCaps(LPDSBCAPS caps) {
    Entered("GetCaps");
    if (!caps || caps->dwSize != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> guard(MixLock());
    caps->dwFlags = flags_;
    caps->dwBufferBytes = Size();
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return DS_OK;
}

// The write cursor runs ten milliseconds ahead of a playing buffer's play cursor.
DWORD SoundBuffer::WriteCursorLocked() const {
    if (!source_.Playing || Size() == 0) return source_.PlayCursor;
    DWORD align = format_.nBlockAlign ? format_.nBlockAlign : 1;
    DWORD lead = std::max<DWORD>(format_.nAvgBytesPerSec / 100 / align * align, align);
    return (source_.PlayCursor + std::min(lead, Size() - 1)) % Size();
}

HRESULT WINAPI SoundBuffer::GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) {
    Entered("GetCurrentPosition");
    std::lock_guard<std::mutex> guard(MixLock());
    if (IsPrimary()) {
        if (playCursor) *playCursor = 0;
        if (writeCursor) *writeCursor = 0;
        return DS_OK;
    }
    if (playCursor) *playCursor = source_.PlayCursor;
    if (writeCursor) *writeCursor = WriteCursorLocked();
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::GetVolume(LPLONG volume) {
    Entered("GetVolume");
    if (!volume) return DSERR_INVALIDPARAM;
    if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    std::lock_guard<std::mutex> guard(MixLock());
    *volume = volume_;
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::GetPan(LPLONG pan) {
    Entered("GetPan");
    if (!pan) return DSERR_INVALIDPARAM;
    if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    std::lock_guard<std::mutex> guard(MixLock());
    *pan = pan_;
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::GetStatus(LPDWORD status) {
    Entered("GetStatus");
    if (!status) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> guard(MixLock());
    *status = (source_.Playing ? DSBSTATUS_PLAYING : 0) |
              (source_.Playing && source_.Looping ? DSBSTATUS_LOOPING : 0);
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::Lock(DWORD offset, DWORD bytes, LPVOID* audio1, LPDWORD audioBytes1,
                                 LPVOID* audio2, LPDWORD audioBytes2, DWORD flags) {
    Entered("Lock");
    if (!audio1 || !audioBytes1) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> guard(MixLock());
    if (IsPrimary()) return DSERR_PRIOLEVELNEEDED;
    if (flags & DSBLOCK_FROMWRITECURSOR) offset = WriteCursorLocked();
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = Size();
    if (offset >= Size() || bytes == 0 || bytes > Size()) return DSERR_INVALIDPARAM;
    if (locked_) return DSERR_INVALIDCALL;
    if (failLocks.load()) return DSERR_BUFFERLOST;
    lockOffset_ = offset;
    lockFirst_ = std::min(bytes, Size() - offset);
    lockSecond_ = audio2 ? bytes - lockFirst_ : 0;
    std::memcpy(shadow_.data() + offset, source_.Memory.data() + offset, lockFirst_);
    std::memcpy(shadow_.data(), source_.Memory.data(), lockSecond_);
    locked_ = true;
    *audio1 = shadow_.data() + offset;
    *audioBytes1 = lockFirst_;
    if (audio2) *audio2 = lockSecond_ ? shadow_.data() : nullptr;
    if (audioBytes2) *audioBytes2 = lockSecond_;
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::Unlock(LPVOID audio1, DWORD audioBytes1, LPVOID audio2,
                                   DWORD audioBytes2) {
    Entered("Unlock");
    std::lock_guard<std::mutex> guard(MixLock());
    if (!locked_ || audio1 != shadow_.data() + lockOffset_) return DSERR_INVALIDPARAM;
    if (audioBytes1 > lockFirst_ || (audio2 && audio2 != shadow_.data()) ||
        (audio2 ? audioBytes2 : 0) > lockSecond_)
        return DSERR_INVALIDPARAM;
    std::memcpy(source_.Memory.data() + lockOffset_, shadow_.data() + lockOffset_, audioBytes1);
    if (audio2) std::memcpy(source_.Memory.data(), shadow_.data(), audioBytes2);
    locked_ = false;
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::Play(DWORD, DWORD, DWORD flags) {
    Entered("Play");
    std::lock_guard<std::mutex> guard(MixLock());
    source_.Playing = true;
    source_.Looping = (flags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::Stop() {
    Entered("Stop");
    std::lock_guard<std::mutex> guard(MixLock());
    source_.Playing = false;
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::SetCurrentPosition(DWORD newPosition) {
    Entered("SetCurrentPosition");
    std::lock_guard<std::mutex> guard(MixLock());
    if (IsPrimary()) return DSERR_INVALIDCALL;
    if (newPosition >= Size()) return DSERR_INVALIDPARAM;
    source_.PlayCursor = newPosition;
    if (Stream* stream = StreamLocked()) stream->PendingCount = 0;
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::SetFormat(LPCWAVEFORMATEX format) {
    Entered("SetFormat");
    std::lock_guard<std::mutex> guard(MixLock());
    if (!IsPrimary()) return DSERR_INVALIDCALL;
    if (!owner_ || owner_->LevelLocked() < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
    if (!FormatPlayable(format)) return DSERR_BADFORMAT;
    format_ = *format;
    return DS_OK;
}

void SoundBuffer::ApplyGainLocked() {
    if (Stream* stream = StreamLocked()) stream->Volume = GainWord(volume_, pan_);
}

HRESULT WINAPI SoundBuffer::SetVolume(LONG volume) {
    Entered("SetVolume");
    if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> guard(MixLock());
    volume_ = volume;
    ApplyGainLocked();
    return DS_OK;
}

HRESULT WINAPI SoundBuffer::SetPan(LONG pan) {
    Entered("SetPan");
    if (!(flags_ & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> guard(MixLock());
    pan_ = pan;
    ApplyGainLocked();
    return DS_OK;
}

ULONG WINAPI SoundObject::Release() {
    Entered("Release");
    ULONG left = --references_;
    if (left != 0) return left;
    std::lock_guard<std::mutex> guard(MixLock());
    std::vector<SoundBuffer*> remaining = buffers_;
    for (SoundBuffer* buffer : remaining) buffer->DestroyLocked();
    delete this;
    return 0;
}

HRESULT SoundObject::CheckDescription(LPCDSBUFFERDESC desc) const {
    if (!desc || (desc->dwSize != sizeof(DSBUFFERDESC1) && desc->dwSize != sizeof(DSBUFFERDESC)))
        return DSERR_INVALIDPARAM;
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER)
        return desc->dwBufferBytes == 0 && !desc->lpwfxFormat ? DS_OK : DSERR_INVALIDPARAM;
    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX)
        return DSERR_INVALIDPARAM;
    if (!FormatPlayable(desc->lpwfxFormat)) return DSERR_BADFORMAT;
    // Components of the first release knew no global focus and refused the flag.
    if ((desc->dwFlags & DSBCAPS_GLOBALFOCUS) && refuseGlobalFocus.load())
        return DSERR_INVALIDPARAM;
    return DS_OK;
}

HRESULT WINAPI SoundObject::CreateSoundBuffer(LPCDSBUFFERDESC desc, LPLPDIRECTSOUNDBUFFER buffer,
                                              IUnknown* outer) {
    Entered("CreateSoundBuffer");
    if (!buffer) return DSERR_INVALIDPARAM;
    *buffer = nullptr;
    if (outer) return DSERR_NOAGGREGATION;
    if (HRESULT checked = CheckDescription(desc); checked != DS_OK) return checked;
    const bool primary = (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
    WAVEFORMATEX format = primary ? DefaultPrimaryFormat() : *desc->lpwfxFormat;
    format.cbSize = 0;
    if (!primary) {
        if (!EnsureDevice()) return DSERR_NODRIVER;
        DeviceStreamOpening(format);
    }
    {
        std::lock_guard<std::mutex> guard(MixLock());
        auto* made = new SoundBuffer(this, desc->dwFlags, format, desc->dwBufferBytes);
        buffers_.push_back(made);
        *buffer = made;
    }
    if (!primary) DeviceStreamOpened();
    return DS_OK;
}

HRESULT WINAPI SoundObject::GetCaps(LPDSCAPS caps) {
    Entered("GetCaps");
    if (!caps || caps->dwSize != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
    std::memset(caps, 0, sizeof *caps);
    caps->dwSize = sizeof(DSCAPS);
    caps->dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT |
                    DSCAPS_PRIMARY16BIT | DSCAPS_CONTINUOUSRATE | DSCAPS_EMULDRIVER |
                    DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT |
                    DSCAPS_SECONDARY16BIT;
    caps->dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
    caps->dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
    caps->dwPrimaryBuffers = 1;
    return DS_OK;
}

HRESULT WINAPI SoundObject::SetCooperativeLevel(HWND window, DWORD level) {
    Entered("SetCooperativeLevel");
    if (!IsWindow(window)) return DSERR_INVALIDPARAM;
    if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> guard(MixLock());
    window_ = window;
    level_ = level;
    for (SoundBuffer* buffer : buffers_) buffer->SetFocusWindowLocked(window);
    return DS_OK;
}

}  // namespace

HRESULT WINAPI DirectSoundCreate(LPCGUID device, LPDIRECTSOUND* directSound, LPUNKNOWN outer) {
    Entered("DirectSoundCreate");
    if (!directSound) return DSERR_INVALIDPARAM;
    *directSound = nullptr;
    if (outer) return DSERR_NOAGGREGATION;
    if (device) return DSERR_NODRIVER;
    if (!EnsureDevice()) return DSERR_NODRIVER;
    *directSound = new SoundObject;
    return DS_OK;
}

namespace standin {

void RefuseGlobalFocusBuffers(bool refuse) {
    refuseGlobalFocus.store(refuse);
}

void FailSoundBufferLocks(bool fail) {
    failLocks.store(fail);
}

void SetDirectSoundHook(std::function<void(const char* method)> hook) {
    std::lock_guard<std::mutex> guard(hookLock);
    Hook() = std::move(hook);
}

}  // namespace standin
