// SPDX-License-Identifier: MIT
// <zambrel-player>: a movie on a canvas with its sound through Web Audio, driven by the names
// of the <video> element, so that a page (or a control library written for <video>) can use
// it without learning another interface. Each element has its own decoder handle in one
// WebAssembly module shared by the page.
//
// This file is no module of its own: web/build wraps it into the ES module of the package
// and into the plain script for file://, each handing definePlayer the way to load the core.

/* exported definePlayer */
function definePlayer(createCore) {
  'use strict';

  const ZAMBERR_END = 1;
  const ZAMBERR_NO_MEMORY = -2;
  const ZAMBERR_READ_FAILED = -4;
  const DAMAGED = -100;  // the glue's: a frame its checks found damaged
  const MAX_TRACKS = 7;
  // Sound is scheduled this far ahead of the frame it belongs to, so the first buffer after
  // a start or a seek is never already late when it reaches the audio thread.
  const LEAD_SECONDS = 0.1;
  // A frame later than this is decoded without its sound and without drawing, so that the
  // movie catches up with its clock (as <video> drops frames) instead of falling behind it.
  const LATE_SECONDS = 0.25;
  // Catching up after a long stall is spread over several turns of the event loop, this
  // long each, so that the page stays responsive.
  const TICK_BUDGET_MS = 30;
  // A hidden page's timers may wake only once a second: its sound is decoded and handed out
  // this far ahead, so that it never runs dry. Nothing is drawn until the page shows again.
  const HIDDEN_AHEAD_SECONDS = 1.5;
  // The sound reaches Web Audio at least this long before it is due to play, and a picture
  // waits this long at most to be drawn after its time: a frame's picture is taken ahead of
  // its time, while the one before is still on the screen, only within what is left.
  const HANDOUT_MARGIN = 0.025, DRAW_SLACK = 0.02;
  // A new audio context takes a moment to start; the pictures wait this long for it before
  // they go on by the page's clock.
  const AUDIO_START_SECONDS = 0.5;
  // How long play() may ask a new audio context whether the browser lets it start before
  // taking no answer as a refusal (a context the browser allows starts within moments).
  const AUTOPLAY_CHECK_MS = 40;
  // Web Audio buffers take rates in this range; a track outside it plays silently.
  const MIN_AUDIO_RATE = 3000, MAX_AUDIO_RATE = 768000;
  // A movie stored without timing plays at sixty frames a second.
  const UNTIMED_PERIOD = 1 / 60;
  // Once a fetched movie plays, what arrives is handed over (and reported in `progress`) at
  // most this often, so that a trickle does not cost a check per network packet; before it
  // opens, or while it waits for a frame, every piece counts at once.
  const PROGRESS_INTERVAL_MS = 350;
  const TIMEUPDATE_INTERVAL_MS = 250;

  const HAVE_NOTHING = 0, HAVE_METADATA = 1, HAVE_CURRENT_DATA = 2, HAVE_FUTURE_DATA = 3,
        HAVE_ENOUGH_DATA = 4;

  // ---- The shared core ------------------------------------------------------------------

  let core = null;
  let coreLoading = null;
  const live = new Set();  // WeakRefs to the engines with a handle in the current core
  // A player dropped from the page and forgotten gives its decoder's memory back: the
  // WebAssembly heap is not the garbage collector's to see.
  const collected = new FinalizationRegistry(({ module, handle }) => {
    if (module === core) module._WebDestroy(handle);
  });

  function loadCore() {
    if (typeof WebAssembly !== 'object')
      return Promise.reject(new Error('this browser cannot run WebAssembly, which the player ' +
                                      'needs'));
    if (!coreLoading) {
      coreLoading = createCore({ onAbort: () => {}, printErr: () => {}, print: () => {} })
        .then((module) => { core = module; return module; },
              (error) => { coreLoading = null; throw error; });
    }
    return coreLoading;
  }

  // A module that aborted (a bug, or memory the browser would not give) must not be called
  // again, not even to close: every player forgets its movie and the next load starts a
  // fresh module.
  function coreFailed(error) {
    core = null;
    coreLoading = null;
    const engines = [...live].map((ref) => ref.deref()).filter(Boolean);
    live.clear();
    for (const engine of engines) engine._lostCore(error);
  }

  function errorText(code) {
    return core ? core.UTF8ToString(core._WebErrorString(code)) : 'error ' + code;
  }

  class ZambrelMediaError {
    constructor(code, message) {
      this.code = code;
      this.message = message;
    }
  }
  for (const where of [ZambrelMediaError, ZambrelMediaError.prototype])
    Object.assign(where, { MEDIA_ERR_ABORTED: 1, MEDIA_ERR_NETWORK: 2, MEDIA_ERR_DECODE: 3,
                           MEDIA_ERR_SRC_NOT_SUPPORTED: 4 });

  // TimeRanges as <video> hands them out.
  function timeRanges(ranges) {
    const check = (i) => {
      if (i < 0 || i >= ranges.length) throw new DOMException('no such range', 'IndexSizeError');
    };
    return { length: ranges.length, start: (i) => (check(i), ranges[i][0]),
             end: (i) => (check(i), ranges[i][1]) };
  }

  // The ranges played, in order and joined where they touch, as `played` hands them out.
  function mergeRanges(ranges) {
    const merged = [];
    for (const [start, end] of ranges.filter(([a, b]) => b > a).sort((x, y) => x[0] - y[0])) {
      const last = merged[merged.length - 1];
      if (last && start <= last[1] + 1e-9) last[1] = Math.max(last[1], end);
      else merged.push([start, end]);
    }
    return merged;
  }

  // Media events reach listeners in tasks of their own, after the call that caused them, as
  // <video>'s do: code that sets something and then waits for its event sees the event, and a
  // listener added right after the element was made hears its loadstart. A message channel,
  // unlike a timer, is not slowed down in a hidden page.
  const tasks = [];
  let taskChannel = null;
  function queueTask(task) {
    if (!taskChannel) {
      taskChannel = new MessageChannel();
      taskChannel.port1.onmessage = () => tasks.shift()();
    }
    tasks.push(task);
    taskChannel.port2.postMessage(null);
  }

  function clockText(seconds) {
    if (!Number.isFinite(seconds)) return '--:--';
    const whole = Math.floor(seconds + 1e-6);
    const m = Math.floor(whole / 60), s = whole % 60;
    if (m < 60) return String(m).padStart(2, '0') + ':' + String(s).padStart(2, '0');
    return Math.floor(m / 60) + ':' + String(m % 60).padStart(2, '0') + ':' +
           String(s).padStart(2, '0');
  }

  // The page reads a movie's bytes, which a browser allows from another site only when its
  // server says so: a failed fetch from elsewhere says what the server must send.
  function corsNote(url) {
    const origin = new URL(url, document.baseURI).origin;
    if (origin === location.origin) return '';
    return '; a movie from another site plays only if its server allows this page to read it ' +
           '(CORS: Access-Control-Allow-Origin: ' + location.origin + ' or *)';
  }

  // The WebAssembly memory's limit: a movie claiming more is not streamed.
  const MAX_MOVIE_BYTES = 2 ** 31;

  function joined(pieces, total) {
    if (pieces.length === 1) return pieces[0];
    const all = new Uint8Array(total);
    let at = 0;
    for (const piece of pieces) {
      all.set(piece, at);
      at += piece.length;
    }
    pieces.splice(0, pieces.length, all);
    return all;
  }

  // ---- One movie's decoding, drawing, sound and pacing ------------------------------------

  class Engine {
    constructor(element, view) {
      this._element = element;
      this.view = view;
      this._handle = 0;  // the glue's WebMovie, once the core is loaded
      this.movie = null;
      this._audio = null;
      this._tickTimer = 0;
      this._drawTimer = 0;
      this._drawRequest = 0;
      this._loadNumber = 0;
      this.volume = 1;
      this.muted = false;
      this.lateSeconds = LATE_SECONDS;
      this.recordSound = false;  // the tests' record of what was handed to Web Audio
    }

    // Every entry point from the page runs through here: an abort of the core leaves a
    // message and a player that still works.
    guard(action) {
      try {
        return action();
      } catch (error) {
        coreFailed(error);
        return undefined;
      }
    }

    _ensureHandle() {
      if (!this._handle) {
        this._handle = core._WebCreate();
        if (!this._handle) throw new Error('no memory for a decoder');
        this.liveRef = new WeakRef(this);
        live.add(this.liveRef);
        collected.register(this._element, { module: core, handle: this._handle }, this);
      }
      return this._handle;
    }

    _lostCore(error) {
      collected.unregister(this);
      this._handle = 0;
      this.forget();
      this._element.fail(ZambrelMediaError.MEDIA_ERR_DECODE, (this.name || 'the movie') +
                        ': the decoder stopped (' + (error && error.message ? error.message : error) +
                        '); load the movie again to retry');
    }

    // Off the page: the sound device is let go (a movie put back gets a new one).
    _releaseAudio() {
      this._releaseHeldSound();
      this._stopSound();
      if (this._audio) this._audio.context.close().catch(() => {});
      this._audio = null;
    }

    heap() {
      return core.HEAPU8;
    }

    // ---- Loading ----

    // Takes the movie's bytes from a URL, a File, a Blob or an ArrayBuffer. Returns once the
    // movie is open (or refused); a fetched movie goes on arriving after that.
    async load(source, name, crossOrigin) {
      this.forget();
      const number = ++this._loadNumber;
      const current = () => number === this._loadNumber;
      await loadCore();
      if (!current()) return;
      this.guard(() => this._ensureHandle());
      if (!this._handle) return;
      if (typeof source === 'string') await this._fetchMovie(source, name, crossOrigin, current);
      else await this._takeBytes(source, name, current);
    }

    async _takeBytes(source, name, current) {
      const end = ArrayBuffer.isView(source) ? source.byteOffset + source.byteLength : 0;
      const buffer = source instanceof ArrayBuffer ? source
                   : ArrayBuffer.isView(source) ? source.buffer.slice(source.byteOffset, end)
                   : await source.arrayBuffer();
      if (!current()) return;
      const bytes = new Uint8Array(buffer);
      if (!this._startInput(bytes.length, name)) return;
      this.guard(() => {
        this.heap().set(bytes, this.input);
        this.arrive(bytes.length, true);
      });
    }

    async _fetchMovie(url, name, crossOrigin, current) {
      let response;
      try {
        response = await fetch(url, { credentials: crossOrigin === 'use-credentials' ? 'include'
                                                                                    : 'same-origin' });
      } catch (error) {
        if (current()) this._element.fail(ZambrelMediaError.MEDIA_ERR_NETWORK, name + ': ' +
                                         'the movie could not be fetched (' + error.message + ')' +
                                         corsNote(url));
        return;
      }
      if (!current()) return;
      if (!response.ok) {
        this._element.fail(ZambrelMediaError.MEDIA_ERR_NETWORK, name + ': the server answered ' +
                          response.status + (response.statusText ? ' ' + response.statusText : ''));
        return;
      }
      // A compressed transfer's length is not the movie's: the movie's own tables tell it.
      const length = Number(response.headers.get('Content-Length'));
      const known = Number.isSafeInteger(length) && length > 0 &&
                    !response.headers.get('Content-Encoding');
      if (!response.body)
        this._element.fail(ZambrelMediaError.MEDIA_ERR_NETWORK, name + ': the server sent nothing');
      else if (known) await this.stream(response.body.getReader(), length, name, current);
      else await this._streamUnsized(response.body.getReader(), name, current);
    }

    // A response that does not say how long the movie is (sent in chunks, or compressed in
    // transit): what comes is kept until the header and tables are there, which say it; from
    // then on it streams as one with a length. One that ends before is taken as it is.
    async _streamUnsized(reader, name, current) {
      const pieces = [];
      let have = 0, needed = 1;
      for (;;) {
        let part;
        try {
          part = await reader.read();
        } catch (error) {
          if (current()) this._element.fail(ZambrelMediaError.MEDIA_ERR_NETWORK,
                                           name + ': the transfer broke off');
          return;
        }
        if (!current() || !this._handle) {
          reader.cancel().catch(() => {});
          return;
        }
        if (part.done) break;
        pieces.push(part.value);
        have += part.value.length;
        if (have < needed) continue;
        const claimed = this.guard(() => this._claimedSize(joined(pieces, have)));
        if (claimed === undefined) return;
        if (claimed > 0 && claimed <= MAX_MOVIE_BYTES) {
          await this.stream(reader, claimed, name, current, joined(pieces, have), false);
          return;
        }
        if (claimed > 0) break;  // more than the page can hold: opened as it is, and refused
        needed = -claimed;
      }
      await this._takeBytes(joined(pieces, have), name, current);
    }

    // The movie's length by its tables, or minus the bytes they need first.
    _claimedSize(bytes) {
      const input = core._WebInputBuffer(this._handle, bytes.length);
      if (!input) return 0;
      this.heap().set(bytes, input);
      core._WebArrived(this._handle, bytes.length);
      return core._WebClaimedSize(this._handle);
    }

    // Copies the bytes into the decoder's input as they come, handing them over in pieces.
    // `first` came before; a response that ends short of a `length` it did not say itself
    // (`exact` false) is read as far as it is whole.
    async stream(reader, length, name, current, first = new Uint8Array(0), exact = true) {
      if (!this._startInput(length, name)) {
        reader.cancel().catch(() => {});
        return;
      }
      let at = Math.min(first.length, length), told = 0, toldAt = performance.now();
      this.heap().set(first.subarray(0, at), this.input);
      for (;;) {
        let part;
        try {
          part = await reader.read();
        } catch (error) {
          if (current() && this.movie) this._brokeOff(at, length);
          else if (current()) this._element.fail(ZambrelMediaError.MEDIA_ERR_NETWORK,
                                                name + ': the transfer broke off');
          return;
        }
        if (!current() || !this._handle) {
          reader.cancel().catch(() => {});
          return;
        }
        if (part.done) break;
        const piece = part.value.subarray(0, Math.max(0, length - at));
        this.heap().set(piece, this.input + at);
        at += piece.length;
        const waiting = !this.movie || this.movie.waiting;
        if (waiting || performance.now() - toldAt >= PROGRESS_INTERVAL_MS || at === length) {
          told = at;
          toldAt = performance.now();
          this.guard(() => this.arrive(at, at === length));
          if (!this.input) return;  // refused
          if (this._element._holdsReading()) await new Promise((resume) => {
            this._resumeReading = resume;
          });
        }
      }
      if (told !== at || at < length) {
        if (at < length && exact) this._brokeOff(at, length);
        else this.guard(() => this.arrive(at, true));
      }
    }

    // Reading held by preload="metadata" goes on.
    _readOn() {
      const resume = this._resumeReading;
      this._resumeReading = null;
      if (resume) resume();
    }

    _brokeOff(at, length) {
      this.guard(() => this.arrive(at, false));
      if (!this._handle || !this.input) return;
      this.complete = true;
      this._element.fail(ZambrelMediaError.MEDIA_ERR_NETWORK, this.name + ': the transfer broke ' +
                        'off after ' + at + ' of ' + length + ' bytes', Boolean(this.movie));
    }

    _startInput(size, name) {
      this.name = name;
      this.input = this.guard(() => core._WebInputBuffer(this._handle, size)) || 0;
      this.size = size;
      this.arrived = 0;
      this.complete = false;
      if (!this.input) {
        this._element.fail(ZambrelMediaError.MEDIA_ERR_SRC_NOT_SUPPORTED,
                          name + ': ' + errorText(ZAMBERR_NO_MEMORY));
        return false;
      }
      return true;
    }

    // `count` bytes are there (all of them with `complete`): opens the movie when enough
    // has come, and wakes a player waiting for its next frame.
    arrive(count, complete) {
      this.arrived = count;
      this.complete = complete;
      core._WebArrived(this._handle, count);
      if (!this.movie) {
        if (count < this._bytesNeeded(-1) && !complete) return;
        this.open();
        return;
      }
      this._element.progress();
      if (this.movie.waiting) this._resumeWaiting();
    }

    _bytesNeeded(frame) {
      return core._WebBytesNeeded(this._handle, frame);
    }

    has(frame) {
      return this.complete || this.arrived >= this._bytesNeeded(frame);
    }

    open() {
      const error = core._WebOpen(this._handle);
      if (error < 0) {
        this.input = 0;
        this._element.fail(ZambrelMediaError.MEDIA_ERR_SRC_NOT_SUPPORTED,
                          this.name + ': ' + errorText(error));
        return;
      }
      const info = this._readInfo();
      const soundTracks = [];
      info.tracks.forEach((track, t) => { if (track.decoded) soundTracks.push(t); });
      this.movie = {
        info, soundTracks, playing: false, ended: false, failed: false, shown: -1,
        pending: null, _shownSound: null, dirty: [], partialFrames: 0, image: null,
        sources: new Set(), cursor: new Array(MAX_TRACKS).fill(0), _anchorTime: 0,
        _anchorFrame: 0, _audioClock: false, _lag: 0, _takeEarly: 0, _holdingSince: 0,
        stale: false, waiting: null, _soundHeld: false, damaged: new Set(),
        enabled: info.tracks.map((track) => track.decoded),
        handed: info.tracks.map(() => []),
      };
      // The audio context outlives a movie: a track turned off in the last one plays here.
      this._applyGains();
      this._element._opened(info);
      if (!this.has(0)) return;  // the open read it, so this is only a hostile table
      if (!this.decodeNext()) return;
      this.showFrameNow(true);
      this._element._firstFrame();
    }

    // The facts, as the glue lays them out: eight words, then seven per track.
    _readInfo() {
      const words = new Uint32Array(this.heap().buffer, core._WebInfo(this._handle),
                                    8 + 7 * MAX_TRACKS).slice();
      const info = {
        width: words[0], height: words[1], storedHeight: words[2], frameCount: words[3],
        durationNum: words[4], durationDen: words[5], flags: words[6], tracks: [],
      };
      for (let t = 0; t < MAX_TRACKS; t++) {
        const w = words.subarray(8 + 7 * t, 15 + 7 * t);
        info.tracks.push({ present: w[0] !== 0, decoded: w[1] !== 0, rate: w[2], channels: w[3],
                           bits: w[4], compressed: w[6] !== 0,
                           playable: w[1] !== 0 && w[2] >= MIN_AUDIO_RATE &&
                                     w[2] <= MAX_AUDIO_RATE });
      }
      info.timed = info.durationDen > 0 && info.durationNum > 0;
      info.period = info.timed ? info.durationNum / info.durationDen : UNTIMED_PERIOD;
      return info;
    }

    // The last frame whose bytes are all there, -1 before the first.
    _lastArrivedFrame() {
      if (!this.movie) return -1;
      const count = this.movie.info.frameCount;
      if (this.complete) return count - 1;
      let low = -1, high = count - 1;
      while (low < high) {
        const middle = (low + high + 1) >> 1;
        if (this.arrived >= this._bytesNeeded(middle)) low = middle;
        else high = middle - 1;
      }
      return low;
    }

    forget() {
      clearTimeout(this._tickTimer);
      clearTimeout(this._drawTimer);
      cancelAnimationFrame(this._drawRequest);
      this._tickTimer = this._drawTimer = this._drawRequest = 0;
      if (this.movie) this._stopSound();
      if (this._audio && this._audio.context.state === 'suspended' && this.movie &&
          this.movie._soundHeld)
        this._audio.context.resume().catch(() => {});
      this.movie = null;
      this.input = 0;
      this._loadNumber++;
      this._readOn();
      if (this._handle && core) this.guard(() => core._WebClose(this._handle));
    }

    // ---- Web Audio ----

    _ensureAudio() {
      if (this._audio) return this._audio;
      const Context = window.AudioContext || window.webkitAudioContext;
      if (!Context) return null;
      // The device's larger buffers, where frames are long enough to hand the sound out ahead
      // by what they add (that is taken off the pictures' clock): its thread and the
      // browser's audio service then wake a quarter as often as with the smallest.
      const context = new Context({ latencyHint: this.movie.info.period < 0.04 ? 'interactive'
                                                                              : 'playback' });
      const master = context.createGain();
      master.connect(context.destination);
      // A track's gain is made when its first sound is: the audio thread works through every
      // node in the graph many times a second, whether anything plays through it or not.
      this._audio = { context, master, gains: new Array(MAX_TRACKS).fill(null) };
      this._applyGains();
      // A context that starts late (held back until the user acted) is taken up by the next
      // turn of the pacing, which moves the clock over to it.
      context.addEventListener('statechange', () => {
        if (this.movie && this.movie.playing) this._scheduleTick(0);
      });
      return this._audio;
    }

    _applyGains() {
      if (!this._audio) return;
      this._audio.master.gain.value = this.muted ? 0 : this.volume;
      const enabled = this.movie ? this.movie.enabled : [];
      this._audio.gains.forEach((gain, t) => { if (gain) gain.gain.value = enabled[t] ? 1 : 0; });
    }

    _trackGain(track) {
      const audio = this._audio;
      if (!audio.gains[track]) {
        const gain = audio.context.createGain();
        gain.gain.value = this.movie.enabled[track] ? 1 : 0;
        gain.connect(audio.master);
        audio.gains[track] = gain;
      }
      return audio.gains[track];
    }

    _audioRunning() {
      return this._audio !== null && this._audio.context.state === 'running';
    }

    // The movie's clock in seconds: once the sound is what paces it, the audio clock of the
    // sample heard now, so that the pictures keep with what is heard (less what the sound
    // could not be handed out ahead for: `_lag`); else the page's own clock.
    _clockNow() {
      const movie = this.movie;
      if (movie && movie._audioClock) return this._heardNow() + movie._lag;
      return performance.now() / 1000;
    }

    // Where the device's output is, as it last told, moved on by the time since; never past
    // where rendering is (the last report of a context that was suspended is old).
    _heardNow() {
      const context = this._audio.context;
      const stamp = (context.getOutputTimestamp && context.getOutputTimestamp()) || {};
      if (!(stamp.contextTime > 0))
        return context.currentTime - (context.baseLatency || 0) - (context.outputLatency || 0);
      return Math.min(context.currentTime,
                      stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000);
    }

    // A frame's sound is handed out one frame ahead of its picture, or two if the picture is
    // taken a little before its time; what the device's latency exceeds that by is the sound
    // trailing its pictures.
    _setLag() {
      const movie = this.movie, period = movie.info.period;
      const latency = movie._audioClock ? this._audio.context.currentTime - this._heardNow() : 0;
      const kept = Math.max(0, Math.min(latency, 2 * period - DRAW_SLACK - HANDOUT_MARGIN));
      movie._lag = latency - kept;
      movie._takeEarly = Math.max(0, Math.min(period - DRAW_SLACK,
                                              kept + HANDOUT_MARGIN - period));
    }

    _stopSound() {
      const movie = this.movie;
      if (!movie) return;
      for (const source of movie.sources) {
        if (source.startTime > this._audio.context.currentTime) this._forgetHanded(source.part);
        source.onended = null;
        try { source.stop(); } catch (ignored) { /* never started */ }
        source.disconnect();
      }
      movie.sources.clear();
    }

    // Hands one frame's sound of each track to Web Audio, right after the sound before it.
    _scheduleSound(sound) {
      const movie = this.movie;
      if (!movie._audioClock) return;
      const context = this._audio.context;
      for (const part of sound) {
        if (part.rate < MIN_AUDIO_RATE || part.rate > MAX_AUDIO_RATE) continue;
        const buffer = context.createBuffer(part.channels.length, part.channels[0].length,
                                            part.rate);
        part.channels.forEach((samples, c) => buffer.copyToChannel(samples, c));
        const source = context.createBufferSource();
        source.buffer = buffer;
        source.connect(this._trackGain(part.track));
        const start = Math.max(movie.cursor[part.track], context.currentTime);
        source.start(start);
        movie.cursor[part.track] = start + buffer.duration;
        movie.sources.add(source);
        source.onended = () => movie.sources.delete(source);
        source.part = part;
        source.startTime = start;
        if (this.recordSound && !part.handed) movie.handed[part.track].push(part);
        part.handed = true;
      }
    }

    // Sound stopped before it began was never heard: the test record drops it, so that it
    // shows whether that sound is handed out again.
    _forgetHanded(part) {
      if (!part.handed) return;
      part.handed = false;
      const record = this.movie.handed[part.track];
      const at = record.lastIndexOf(part);
      if (at >= 0) record.splice(at, 1);
    }

    // ---- Decoding and drawing ----

    // Decodes the next frame into the decoder (not yet onto the canvas) and takes its sound.
    // Returns false at the end of the movie, after a failure (which it reports) or when the
    // frame's bytes have not arrived yet (movie.waiting is then set).
    decodeNext() {
      const movie = this.movie;
      const next = core._WebFrameNumber(this._handle) + 1;
      if (next < movie.info.frameCount && !this.has(next)) {
        this.wait({ frame: next });
        return false;
      }
      const error = core._WebNextFrame(this._handle);
      if (error === ZAMBERR_END) return false;
      if (error < 0) {
        this._failPlaying(error, next);
        return false;
      }
      movie.pending = this._takeFrameSound();
      return true;
    }

    _takeFrameSound() {
      const movie = this.movie;
      const sound = [];
      for (const track of movie.soundTracks) {
        const frames = core._WebFrameSound(this._handle, track);
        if (frames <= 0) continue;
        const info = movie.info.tracks[track];
        const all = new Float32Array(this.heap().buffer, core._WebSamples(this._handle),
                                     frames * info.channels).slice();
        const channels = [];
        for (let c = 0; c < info.channels; c++)
          channels.push(all.subarray(c * frames, (c + 1) * frames));
        sound.push({ track, rate: info.rate, channels, handed: false });
      }
      return sound;
    }

    // A seek that could not read its way to `target` stopped at the first frame the input
    // does not hold whole.
    _firstCutFrame(target) {
      for (let f = 0; f < target; f++)
        if (core._WebFrameEnd(this._handle, f) > this.arrived) return f;
      return target;
    }

    // A damaged frame is told as the glue found it: which one, why, and its damaged tracks.
    _failPlaying(error, frame) {
      const movie = this.movie;
      let why = 'could not be decoded: ' + errorText(error);
      if (error === DAMAGED) {
        const damage = core._WebDamage(this._handle);
        frame = new Uint32Array(this.heap().buffer, damage, 1)[0];
        why = 'is damaged: ' + core.UTF8ToString(damage + 4);
        const tracks = core._WebTakeDamagedSound(this._handle);
        for (let track = 0; track < MAX_TRACKS; track++) {
          if (!(tracks & (1 << track))) continue;
          movie.damaged.add(track);
          this._element._soundDamaged(track, frame);
        }
      }
      // The frame shown stays, drawn now if it is not yet (nothing draws a failed movie).
      const undrawn = !movie.failed && (movie.stale || !movie.dirty || movie.dirty.length > 0);
      this.pause();
      movie.failed = true;
      if (undrawn && movie.shown >= 0) this._flushPicture();
      this._element.fail(ZambrelMediaError.MEDIA_ERR_DECODE, this.name + ': frame ' + (frame + 1) +
                        ' of ' + movie.info.frameCount + ' ' + why, true);
    }

    // The RGBA picture lives in wasm memory; its view is made again whenever memory grew.
    _pictureData() {
      const movie = this.movie;
      if (!movie.image || movie.image.data.buffer !== this.heap().buffer) {
        const { width, height } = movie.info;
        const bytes = new Uint8ClampedArray(this.heap().buffer, core._WebPicture(this._handle),
                                            width * height * 4);
        movie.image = new ImageData(bytes, width, height);
      }
      return movie.image;
    }

    // Brings the decoder's picture of the current frame into the RGBA buffer and notes what
    // changed; the canvas is updated by _flushPicture, once per display refresh at most.
    _updatePicture(whole) {
      const movie = this.movie;
      const result = core._WebUpdatePicture(this._handle, whole || movie.stale ? 1 : 0);
      if (result < -1) {
        this._failPlaying(result, movie.shown + 1);
        return;
      }
      movie.stale = false;
      if (result === -1) {
        movie.dirty = null;
      } else if (movie.dirty) {
        movie.partialFrames++;
        const rects = new Int32Array(this.heap().buffer, core._WebRects(this._handle), 4 * result);
        for (let i = 0; i < result; i++) movie.dirty.push(rects.subarray(4 * i, 4 * i + 4).slice());
      }
      this._advanceShown();
    }

    // The decoded frame is the one shown from now on.
    _advanceShown() {
      const movie = this.movie;
      movie.shown = core._WebFrameNumber(this._handle);
      movie._shownSound = movie.pending;
      movie.pending = null;
    }

    // A frame nobody sees (in a hidden page, or passed over to catch up) is not brought into
    // the RGBA buffer. The decoder keeps only the latest frame's changes, so the next drawing
    // takes the whole picture.
    _skipPicture() {
      this.movie.stale = true;
      this.movie.dirty = null;
      this._advanceShown();
    }

    // The picture of a frame that was not taken when shown: the decoder's current one, which
    // while playing may be the frame after it, decoded ahead for its sound.
    _takeWholePicture() {
      const movie = this.movie;
      const result = core._WebUpdatePicture(this._handle, 1);
      if (result < -1) {
        this._failPlaying(result, movie.shown + 1);
        return false;
      }
      movie.stale = false;
      movie.dirty = null;
      return true;
    }

    // Drawing waits for the display's next refresh, which never comes in a hidden page: there
    // the movie goes on undrawn and is drawn once the page shows again, but not before the
    // time of the frame decoded ahead for the sound: the picture would run ahead of it.
    _requestDraw() {
      if (this._drawRequest) return;
      this._drawRequest = requestAnimationFrame(() => this.guard(() => {
        this._drawRequest = 0;
        const movie = this.movie;
        if (!movie || movie.failed) return;
        const early = movie.playing ? this._dueTime(movie.shown) - this._clockNow() : 0;
        clearTimeout(this._drawTimer);
        if (early > 0) this._drawTimer = setTimeout(() => this.guard(() => this._requestDraw()),
                                                    early * 1000);
        else this._flushPicture();
      }));
    }

    _flushPicture() {
      const movie = this.movie;
      if (movie.stale && !this._takeWholePicture()) return;
      const image = this._pictureData();
      const context = this.view.context2d;
      if (movie.dirty === null) {
        context.putImageData(image, 0, 0);
      } else {
        for (const [x, y, w, h] of movie.dirty) context.putImageData(image, 0, 0, x, y, w, h);
      }
      movie.dirty = [];
      this._element._drawn();
    }

    showFrameNow(whole) {
      this._updatePicture(whole);
      if (this.movie && !this.movie.failed) this._flushPicture();
    }

    snapshot() {
      const { width, height } = this.movie.info;
      if (this.movie.stale && !this._takeWholePicture()) return null;
      return new ImageData(new Uint8ClampedArray(this._pictureData().data), width, height);
    }

    // ---- Pacing ----

    _dueTime(frame) {
      const movie = this.movie;
      return movie._anchorTime + (frame - movie._anchorFrame) * movie.info.period;
    }

    // The frame whose time it is: the one shown, unless a hidden page has decoded ahead of
    // its clock for the sound.
    _currentFrame() {
      const movie = this.movie;
      if (!movie.playing || movie.shown <= movie._anchorFrame) return Math.max(0, movie.shown);
      const due = movie._anchorFrame +
                  Math.floor((this._clockNow() - movie._anchorTime) / movie.info.period + 1e-6);
      return Math.max(movie._anchorFrame, Math.min(movie.shown, due));
    }

    // Sets the clock so that the frame on screen (with `fromShown`) or the next one starts
    // a little from now, silences what was scheduled and hands the sound out again from
    // there: playing on after a step or a seek plays the shown frame's sound again. The
    // clock is the audio context's whenever its sound is running.
    resync(fromShown) {
      const movie = this.movie;
      this._stopSound();
      movie._audioClock = movie.soundTracks.length > 0 && this._audioRunning();
      this._setLag();
      movie._anchorFrame = fromShown ? movie.shown : movie.shown + 1;
      movie._anchorTime = (movie._audioClock ? this._audio.context.currentTime : this._clockNow()) +
                          LEAD_SECONDS;
      movie.cursor.fill(movie._audioClock ? movie._anchorTime : 0);
      if (!movie.playing) return;
      if (fromShown && movie._shownSound) this._scheduleSound(movie._shownSound);
      if (movie.pending) this._scheduleSound(movie.pending);
    }

    // Sound that starts after the pictures did (held back until the user acted on the page)
    // joins them where they are: the clock moves over to the audio context's without a
    // jump, and the sound begins with the next frame.
    _adoptAudioClock() {
      const movie = this.movie;
      const ahead = movie._anchorTime - performance.now() / 1000;
      this._stopSound();
      movie._audioClock = true;
      this._setLag();
      movie._anchorTime = this._clockNow() + ahead;
      movie.cursor.fill(this._dueTime(movie.shown + 1));
      if (movie.pending) this._scheduleSound(movie.pending);
    }

    // Whether the pacing may go on. A movie with sound waits a moment for a new audio context
    // to start, so that the first frame's sound is heard with its picture; the clock then
    // starts from the frame shown.
    _clockReady() {
      const movie = this.movie;
      if (movie._holdingSince) {
        const waited = performance.now() - movie._holdingSince;
        if (!this._audioRunning() && waited < AUDIO_START_SECONDS * 1000) {
          this._scheduleTick(0.02);
          return false;
        }
        movie._holdingSince = 0;
        this.resync(true);
      } else if (!movie._audioClock && movie.soundTracks.length > 0 && this._audioRunning()) {
        this._adoptAudioClock();
      }
      return true;
    }

    // A page that hides may wake its timers only once a second from now on: the sound is
    // decoded ahead at once.
    _visibilityChanged() {
      if (this.movie && this.movie.playing) this.tick();
    }

    _scheduleTick(seconds) {
      clearTimeout(this._tickTimer);
      this._tickTimer = setTimeout(() => this.guard(() => this.tick()),
                                  Math.max(0, seconds * 1000));
    }

    // Every frame that has come due is shown (its picture taken, and drawn at the display's
    // next refresh) and the frame after it decoded, so that its sound is handed out a frame
    // ahead. A timer drives this rather than the display's refresh, which stops in a hidden
    // page while the movie's time and sound must go on.
    tick() {
      this._tickTimer = 0;
      const movie = this.movie;
      if (!movie || !movie.playing || movie.waiting || !this._clockReady()) return;
      const hidden = document.visibilityState === 'hidden';
      const ahead = hidden ? HIDDEN_AHEAD_SECONDS : movie._takeEarly;
      const started = performance.now();
      let shown = 0;
      while (this.movie === movie && movie.playing && !movie.failed) {
        if (!movie.pending) {
          if (!this.decodeNext()) {
            if (!movie.waiting && !movie.failed) this._endWhenDue();
            break;
          }
          this._handOutPending();
        }
        const early = this._dueTime(movie.shown + 1) - this._clockNow() - ahead;
        if (early > 0) {
          this._scheduleTick(Math.max(0.004, early));
          break;
        }
        if (hidden || -early - ahead > this.lateSeconds) this._skipPicture();
        else this._updatePicture(false);
        shown++;
        if (performance.now() - started > TICK_BUDGET_MS) {
          this._scheduleTick(0);
          break;
        }
      }
      if (shown > 0 && this.movie === movie && !movie.failed) {
        this._requestDraw();
        this._element._timeAdvanced();
      }
    }

    // The sound of a frame too late to be heard in its place is left out; the next frame's
    // starts where it belongs.
    _handOutPending() {
      const movie = this.movie;
      const frame = movie.shown + 1;
      if (this._clockNow() - this._dueTime(frame) > this.lateSeconds) {
        movie.cursor.fill(this._dueTime(frame + 1));
        return;
      }
      this._scheduleSound(movie.pending);
    }

    // Past the last frame: the movie ends once that frame's time is over (its sound has then
    // played out), or starts again from the first.
    _endWhenDue() {
      const left = this._dueTime(this.movie.shown + 1) - this._clockNow();
      if (left > 0) this._scheduleTick(left);
      else this._finishPlaying();
    }

    _finishPlaying() {
      const movie = this.movie;
      if (this._element.loop) {
        this._element._loopToStart();
        return;
      }
      movie.playing = false;
      movie.ended = !movie.failed;
      this._element._reachedEnd();
    }

    // Playing (or a seek) has come to a frame whose bytes are still on their way.
    wait(what) {
      this.movie.waiting = what;
      this._element.waiting();
    }

    _resumeWaiting() {
      const movie = this.movie;
      const { frame, seek } = movie.waiting;
      if (!this.has(frame)) return;
      movie.waiting = null;
      if (seek !== undefined) {
        this._element._seekArrived(seek);
        return;
      }
      if (movie.playing) {
        if (!this.decodeNext()) {
          if (!movie.waiting) this._finishPlaying();
          return;
        }
        this.resync(false);
        this._element._playingAgain();
        this.tick();
      }
    }

    // ---- What the element asks for ----

    // Starts or resumes playing (whether the browser lets the sound start is the element's
    // to ask first).
    play() {
      const movie = this.movie;
      if (!movie || movie.playing || movie.failed) return;
      if (movie._soundHeld) {
        this._resumeHeldSound();
        return;
      }
      const sound = movie.soundTracks.length > 0 ? this._ensureAudio() : null;
      if (sound && sound.context.state !== 'running') sound.context.resume().catch(() => {});
      movie.playing = true;
      movie._holdingSince = sound && !this._audioRunning() ? performance.now() : 0;
      this.resync(true);
      if (!movie.waiting) this.tick();
    }

    // Whether starting now needs sound the browser does not allow yet. A context it lets
    // start does so within moments of being asked; one it holds back stays suspended until
    // the user acts on the page. Known at once in most cases; otherwise asked for at most
    // AUTOPLAY_CHECK_MS.
    _soundBlockedNow() {
      const movie = this.movie;
      if (!movie || this.muted || this.volume === 0 || movie.soundTracks.length === 0) return false;
      const audio = this._ensureAudio();
      if (!audio || audio.context.state === 'running') return false;
      const activation = navigator.userActivation;
      if (activation && activation.hasBeenActive) return false;
      return null;
    }

    async _soundBlocked() {
      const now = this._soundBlockedNow();
      if (now !== null) return now;
      const context = this._audio.context;
      await Promise.race([context.resume().catch(() => {}),
                          new Promise((resolve) => setTimeout(resolve, AUTOPLAY_CHECK_MS))]);
      return context.state !== 'running';
    }

    // A pause holds the sound where it is, every buffer already handed out with it, so that
    // playing on neither loses nor repeats a sample, however far the movie's sound leads its
    // pictures. Anything else done while paused lets that held sound go.
    pause() {
      const movie = this.movie;
      if (!movie) return;
      movie.playing = false;
      movie._holdingSince = 0;
      if (movie._audioClock && this._audioRunning() && movie.sources.size > 0) {
        movie._soundHeld = true;
        this._audio.context.suspend().catch(() => {});
      } else {
        this._stopSound();
      }
    }

    _resumeHeldSound() {
      const movie = this.movie;
      movie._soundHeld = false;
      movie.playing = true;
      this._audio.context.resume().catch(() => {});
      this.tick();
    }

    _releaseHeldSound() {
      const movie = this.movie;
      if (!movie || !movie._soundHeld) return;
      movie._soundHeld = false;
      this._stopSound();
      this._audio.context.resume().catch(() => {});
    }

    // One more frame while paused, without its sound. False at the end.
    step() {
      const movie = this.movie;
      if (!movie || movie.playing || movie.failed) return false;
      this._releaseHeldSound();
      if (!movie.pending && !this.decodeNext()) {
        if (!movie.waiting) {
          movie.ended = !movie.failed;
          if (movie.ended) this._element._reachedEnd();
        }
        return false;
      }
      this.showFrameNow(false);
      return true;
    }

    // Frames cannot be decoded on their own: the decoder goes through every frame from the
    // start (or from the current one) to reach the target. A target whose bytes have not
    // arrived waits for them. Returns false while it waits.
    seekFrame(target) {
      const movie = this.movie;
      if (!movie) return true;
      this._releaseHeldSound();
      target = Math.max(0, Math.min(movie.info.frameCount - 1, target));
      if (!this.has(target)) {
        this.wait({ frame: target, seek: target });
        return false;
      }
      movie.waiting = null;
      const error = core._WebSeek(this._handle, target);
      if (error < 0) {
        const at = error === ZAMBERR_READ_FAILED ? this._firstCutFrame(target) : target;
        this._failPlaying(error, at);
        return true;
      }
      movie.failed = false;
      movie.ended = false;
      movie.pending = this._takeFrameSound();
      this.showFrameNow(true);
      if (movie.playing) {
        this.resync(true);
        this.tick();
      }
      return true;
    }

    _setTrackEnabled(track, on) {
      this.movie.enabled[track] = on;
      this._applyGains();
    }
  }

  // ---- The element's look -------------------------------------------------------------

  // Drawn rather than taken from a font, which may not have the symbols.
  const icon = (paths) => '<svg viewBox="0 0 16 16" width="16" height="16" aria-hidden="true" ' +
                          'fill="currentColor">' + paths + '</svg>';
  const speaker = '<path d="M2 6h3l4-4v12l-4-4H2z"/>';
  const icons = {
    play: icon('<path d="M4 2l10 6-10 6z"/>'),
    pause: icon('<path d="M3 2h4v12H3zM9 2h4v12H9z"/>'),
    sound: icon(speaker + '<path d="M11 4.5l1-1a6.4 6.4 0 0 1 0 9l-1-1a5 5 0 0 0 0-7z"/>'),
    muted: icon(speaker + '<path d="M10.5 5.5l1-1 4 4-1 1zM10.5 10.5l4-4 1 1-4 4z"/>'),
    fullscreen: icon('<path d="M1 1h5v2H3v3H1zM10 1h5v5h-2V3h-3zM1 10h2v3h3v2H1z' +
                     'M13 10h2v5h-5v-2h3z"/>'),
  };

  // Made when the first player is, never at import, so that importing the package where there
  // is no document (a server rendering the page) is harmless.
  let template = null;
  const templateHtml = `
<style>
  :host { display: block; position: relative; background: var(--zambrel-background, #000);
          color: #fff; font: var(--zambrel-font, 14px/1.3 system-ui, sans-serif); min-width: 0;
          contain: layout; }
  :host([hidden]), [hidden] { display: none !important; }
  :host(:focus-visible) { outline: 3px solid var(--zambrel-accent, #7ab7ff); outline-offset: 2px; }
  .screen { display: flex; justify-content: center; align-items: center; min-height: 6rem;
            overflow: hidden; position: relative; }
  canvas { display: block; image-rendering: pixelated; image-rendering: crisp-edges; }
  canvas.smooth { image-rendering: auto; }
  .poster { position: absolute; inset: 0; width: 100%; height: 100%; object-fit: contain; }
  .note { padding: 1.5rem; text-align: center; color: #e8e8e8; }
  .controls { display: flex; flex-wrap: wrap; align-items: center; gap: 0.35rem;
              padding: 0.35rem 0.5rem; background: var(--zambrel-controls-background, #1b1b1b);
              color: var(--zambrel-control-color, #f2f2f2); }
  button { display: inline-flex; align-items: center; justify-content: center; }
  button, select { font: inherit; color: var(--zambrel-control-color, #f2f2f2);
                   background: var(--zambrel-control-background, #333);
                   border: 1px solid var(--zambrel-control-border, #8a8a8a); border-radius: 4px;
                   padding: 0.2rem 0.5rem; min-height: var(--zambrel-control-size, 2rem);
                   min-width: var(--zambrel-control-size, 2rem); }
  button:disabled, select:disabled { color: #b5b5b5; border-color: #6a6a6a; }
  button:focus-visible, select:focus-visible, input:focus-visible {
    outline: 3px solid var(--zambrel-accent, #7ab7ff); outline-offset: 1px; }
  input[type=range] { accent-color: var(--zambrel-accent, #7ab7ff); min-width: 0; }
  svg { width: var(--zambrel-icon-size, 16px); height: var(--zambrel-icon-size, 16px); }
  .time { flex: 1 1 8rem; }
  .volume { flex: 0 1 5rem; }
  .clock { font-variant-numeric: tabular-nums; white-space: nowrap; }
  :host(:fullscreen) { display: flex; flex-direction: column; justify-content: center; }
  :host(:fullscreen) .screen { flex: 1; }
</style>
<div class="screen" part="screen">
  <p class="note" part="note">No movie.</p>
  <canvas part="picture" role="img" aria-label="Movie picture" hidden></canvas>
  <img class="poster" part="poster" alt="" hidden>
</div>
<div class="controls" part="controls" hidden>
  <button class="play" part="play-button" type="button" aria-label="Play" disabled></button>
  <input class="time" part="time-range" type="range" min="0" max="0" value="0" step="1"
         aria-label="Time" disabled>
  <span class="clock" part="clock" aria-hidden="true">--:-- / --:--</span>
  <button class="mute" part="mute-button" type="button" aria-label="Mute"
          aria-pressed="false"></button>
  <input class="volume" part="volume-range" type="range" min="0" max="1" step="0.05" value="1"
         aria-label="Volume">
  <select class="tracks" part="track-select" aria-label="Sound" disabled hidden></select>
  <button class="fullscreen" part="fullscreen-button" type="button"
          aria-label="Fullscreen"></button>
</div>`;

  function shadowContent() {
    if (!template) {
      template = document.createElement('template');
      template.innerHTML = templateHtml;
    }
    return template.content.cloneNode(true);
  }

  // ---- The element ----------------------------------------------------------------------

  const testHook = Symbol.for('zambrel-player.test');
  // The system's media keys and its notification act on the player that began playing last.
  let mediaSessionOwner = null;

  // Without a DOM (a server rendering the page) the class is defined on a stand-in and never
  // registered; nothing of it runs there.
  const ElementBase = typeof HTMLElement === 'function' ? HTMLElement : class {};

  class ZambrelPlayer extends ElementBase {
    static get observedAttributes() { return ['src', 'controls', 'muted', 'poster', 'preload']; }

    constructor() {
      super();
      const root = this.attachShadow({ mode: 'open' });
      root.append(shadowContent());
      const find = (selector) => root.querySelector(selector);
      this._ui = {
        screen: find('.screen'), note: find('.note'), canvas: find('canvas'),
        poster: find('.poster'), controls: find('.controls'), play: find('.play'),
        time: find('.time'), clock: find('.clock'), mute: find('.mute'),
        volume: find('.volume'), tracks: find('.tracks'), fullscreen: find('.fullscreen'),
      };
      this._view = { context2d: null };
      this._engine = new Engine(this, this._view);
      this._error = null;
      this._readyState = HAVE_NOTHING;
      this._networkState = 0;
      this._seeking = false;
      this._seekNumber = 0;
      this._wantsToPlay = false;
      this._playAttempt = 0;
      this._lastTimeupdate = 0;
      this._playPromises = [];
      this._playedRanges = [];
      this._playedFrom = null;
      this._deferred = null;  // a src not fetched yet (preload="none")
      this._dataWanted = false;
      this._startTime = 0;  // a time set before the movie opened
      this._src = '';
      this._ui.fullscreen.innerHTML = icons.fullscreen;
      this._showVolume();
      this._showPlaying();
      this._wire();
    }

    connectedCallback() {
      if (!this.hasAttribute('tabindex')) this.tabIndex = 0;
      if (!this._resize) {
        // Refitting changes the element's own height: done inside the observer's callback,
        // the browser reports a resize loop on the window (where pages' error reporting
        // hears it), so it waits for the next frame as a window resize does.
        this._resize = new ResizeObserver(() => this._refit());
        this._resize.observe(this);
        document.addEventListener('fullscreenchange', this._refit);
        document.addEventListener('visibilitychange', this._visibility);
        window.addEventListener('resize', this._refit);
      }
    }

    // Moved within the page, the element is connected again right away and plays on; taken
    // off it, it pauses and holds nothing of the page's, so that it can be collected.
    disconnectedCallback() {
      queueMicrotask(() => {
        if (this.isConnected || !this._resize) return;
        this.pause();
        this._engine.guard(() => this._engine._releaseAudio());
        this._resize.disconnect();
        this._resize = null;
        document.removeEventListener('fullscreenchange', this._refit);
        document.removeEventListener('visibilitychange', this._visibility);
        window.removeEventListener('resize', this._refit);
      });
    }

    attributeChangedCallback(name, old, value) {
      if (name === 'src' && value !== old) {
        if (value !== null) this._startLoad(value, this._nameOf(value));
      } else if (name === 'controls') {
        this._ui.controls.hidden = value === null;
        this._showTime();
        this._fit();
      } else if (name === 'muted') {
        this.muted = value !== null;
      } else if (name === 'poster') {
        this._ui.poster.src = value || '';
        this._showPoster();
      } else if (name === 'preload') {
        if (this.preload !== 'none') this._loadDeferred();
        if (this.preload === 'auto') this._wantData();
      }
    }

    // ---- HTMLMediaElement's names ----

    get src() {
      const value = this.getAttribute('src');
      return value === null ? '' : new URL(value, document.baseURI).href;
    }
    set src(value) { this.setAttribute('src', value); }
    get currentSrc() { return this._src; }
    get controls() { return this.hasAttribute('controls'); }
    set controls(on) { this.toggleAttribute('controls', Boolean(on)); }
    get autoplay() { return this.hasAttribute('autoplay'); }
    set autoplay(on) { this.toggleAttribute('autoplay', Boolean(on)); }
    get loop() { return this.hasAttribute('loop'); }
    set loop(on) { this.toggleAttribute('loop', Boolean(on)); }
    get poster() { return this.getAttribute('poster') || ''; }
    set poster(value) { this.setAttribute('poster', value); }
    get defaultMuted() { return this.hasAttribute('muted'); }
    set defaultMuted(on) { this.toggleAttribute('muted', Boolean(on)); }
    // 'auto' (the default: the whole movie is fetched), 'metadata' (fetching stops once the
    // movie is open and its first picture shown, until it plays or a seek needs more) or
    // 'none' (nothing is fetched until it plays or is sought).
    get preload() {
      const value = (this.getAttribute('preload') || '').toLowerCase();
      return value === 'none' || value === 'metadata' ? value : 'auto';
    }
    set preload(value) { this.setAttribute('preload', value); }
    // As <video>'s: 'anonymous' or 'use-credentials' asks for the movie with CORS, without or
    // with the page's cookies. A movie from another site is read only if its server allows it.
    get crossOrigin() {
      const value = this.getAttribute('crossorigin');
      if (value === null) return null;
      return value.toLowerCase() === 'use-credentials' ? 'use-credentials' : 'anonymous';
    }
    set crossOrigin(value) {
      if (value === null) this.removeAttribute('crossorigin');
      else this.setAttribute('crossorigin', value);
    }
    get playbackRate() { return 1; }
    set playbackRate(ignored) { /* movies play at their own rate */ }
    get defaultPlaybackRate() { return 1; }

    get error() { return this._error; }
    get readyState() { return this._readyState; }
    get networkState() { return this._networkState; }
    get seeking() { return this._seeking; }

    get videoWidth() { return this._movie() ? this._movie().info.width : 0; }
    get videoHeight() { return this._movie() ? this._movie().info.height : 0; }

    get duration() {
      const movie = this._movie();
      return movie ? movie.info.frameCount * movie.info.period : NaN;
    }

    // The start of the frame whose time it is; at the end, the end of the last frame.
    get currentTime() {
      const movie = this._movie();
      if (!movie) return this._startTime;
      if (movie.ended) return this.duration;
      return this.frame * movie.info.period;
    }

    // The frame due at `seconds`: the one whose showing has begun by then. Before the movie
    // is open, where it starts.
    set currentTime(seconds) {
      const movie = this._movie();
      const value = Number(seconds);
      if (!Number.isFinite(value)) return;
      if (!movie) {
        this._startTime = Math.max(0, value);
        this._loadDeferred();
        return;
      }
      this.frame = Math.floor(value / movie.info.period + 1e-6);
    }

    get paused() { return !this._wantsToPlay; }

    get ended() {
      const movie = this._movie();
      return Boolean(movie && movie.ended && !this.loop);
    }

    get volume() { return this._engine.volume; }
    set volume(value) {
      const level = Number(value);
      if (!(level >= 0 && level <= 1))
        throw new DOMException('the volume must lie between 0 and 1', 'IndexSizeError');
      if (level === this._engine.volume) return;
      this._engine.volume = level;
      this._engine._applyGains();
      this._showVolume();
      this._fire('volumechange');
    }

    get muted() { return this._engine.muted; }
    set muted(on) {
      const value = Boolean(on);
      if (value === this._engine.muted) return;
      this._engine.muted = value;
      this._engine._applyGains();
      // A page that unmutes from a click may start held-back sound there and then.
      if (!value && this._engine._audio && this._engine._audio.context.state === 'suspended' &&
          this._movie() && this._movie().playing)
        this._engine._audio.context.resume().catch(() => {});
      this._showVolume();
      this._fire('volumechange');
    }

    get buffered() {
      const movie = this._movie();
      if (!movie) return timeRanges([]);
      const last = this._engine._lastArrivedFrame();
      const end = Math.min(this.duration, (last + 1) * movie.info.period);
      return timeRanges(last < 0 ? [] : [[0, end]]);
    }

    get seekable() {
      return timeRanges(this._movie() ? [[0, this.duration]] : []);
    }

    get played() {
      const ranges = this._playedRanges.slice();
      if (this._playedFrom !== null) ranges.push([this._playedFrom, this.currentTime]);
      return timeRanges(mergeRanges(ranges));
    }

    // Resolves once playing has begun; rejects with NotAllowedError when the browser keeps
    // the sound back until the user acts (muted, it plays), with NotSupportedError when
    // there is no movie to play.
    play() {
      if (this._error && !this._movie())
        return Promise.reject(new DOMException(this._error.message, 'NotSupportedError'));
      this._loadDeferred();
      if (!this._movie() && this._networkState === 0)
        return Promise.reject(new DOMException('the player has no movie', 'NotSupportedError'));
      this._wantData();
      return new Promise((resolve, reject) => {
        this._playPromises.push({ resolve, reject });
        const movie = this._movie();
        if (movie && movie.playing && !movie.waiting) this._notifyPlaying(false);
        else if (movie && movie.shown >= 0) this._startPlaying();
        else if (!this._wantsToPlay) {
          // Not open yet: it plays once its first picture is there.
          this._wantsToPlay = true;
          this._showPlaying();
          this._fire('play');
        }
      });
    }

    pause() {
      this._playAttempt++;
      this._rejectPlay(new DOMException('the movie was paused', 'AbortError'));
      const movie = this._movie();
      if (movie) {
        this._engine.guard(() => this._engine.pause());
        if (movie.waiting && movie.waiting.seek === undefined) movie.waiting = null;
      }
      if (!this._wantsToPlay) return;
      // A picture taken ahead of its time, for the sound after it, is the paused one.
      if (movie && !movie.failed) this._engine.guard(() => this._engine._flushPicture());
      this._notePlayed();
      this._wantsToPlay = false;
      this._showPlaying();
      this._showMediaSession();
      this._fire('timeupdate');
      this._fire('pause');
    }

    load() {
      const source = this.getAttribute('src');
      if (source !== null) this._startLoad(source, this._nameOf(source));
      else this._reset();
    }

    canPlayType(type) {
      const ours = /^video\/(x-)?zambrel\b|^application\/x-zambrel\b/i.test(String(type));
      return ours ? 'probably' : '';
    }

    // ---- What the format has and <video> has not ----

    // A movie that is not at a URL: a File or Blob (a drop, a file input) or an ArrayBuffer.
    // `name` is what messages call it.
    loadBytes(source, name) {
      this.removeAttribute('src');
      this._startLoad(source, name || (source && source.name) || 'the movie');
    }

    // Each sound track of the movie: its facts, whether it is played, and whether it can be.
    get tracks() {
      const movie = this._movie();
      if (!movie) return [];
      const list = [];
      movie.info.tracks.forEach((track, index) => {
        if (!track.present) return;
        const engine = this._engine;
        const player = this;
        list.push({
          index, sampleRate: track.rate, channels: track.channels, bitsPerSample: track.bits,
          compressed: track.compressed, playable: track.playable,
          damaged: movie.damaged.has(index),
          get enabled() { return Boolean(movie.enabled[index]); },
          set enabled(on) {
            if (!track.decoded || engine.movie !== movie) return;
            engine._setTrackEnabled(index, Boolean(on));
            player._showTracks();
          },
        });
      });
      return list;
    }

    // The index of the frame shown, 0 for the first; setting it shows exactly that frame.
    get frame() {
      return this._movie() ? this._engine._currentFrame() : 0;
    }

    set frame(value) {
      const movie = this._movie();
      const target = Math.trunc(Number(value));
      if (!movie || !Number.isFinite(target)) return;
      this._seekFrame(target);
    }

    get frameCount() { return this._movie() ? this._movie().info.frameCount : 0; }

    // One more frame while paused (a playing movie is paused first).
    step() {
      if (!this._movie()) return;
      if (!this.paused) this.pause();
      if (this._engine.guard(() => this._engine.step())) this._fire('timeupdate');
    }

    // The picture shown, in the palette's exact colours.
    snapshot() {
      if (!this._movie() || this._movie().shown < 0) return null;
      return this._engine.guard(() => this._engine.snapshot()) || null;
    }

    // ---- Called by the engine ----

    fail(code, message, keepMovie) {
      this._error = new ZambrelMediaError(code, message);
      this._networkState = keepMovie ? 1 : 3;
      this._seeking = false;
      this._notePlayed();
      this._wantsToPlay = false;
      if (!keepMovie) {
        this._engine.forget();
        this._readyState = HAVE_NOTHING;
        this._showEmpty(message);
      }
      this._rejectPlay(new DOMException(message, 'NotSupportedError'));
      this._showPlaying();
      this._fire('error');
    }

    _opened(info) {
      this._readyState = HAVE_METADATA;
      this._ui.canvas.width = info.width;
      this._ui.canvas.height = info.height;
      this._view.context2d = this._ui.canvas.getContext('2d', { alpha: false });
      this._ui.canvas.setAttribute('aria-label', 'Movie picture, ' + info.width + ' by ' +
                                   info.height + ' pixels');
      this._ui.time.max = String(Math.max(0, info.frameCount - 1));
      this._showTracks();
      this._fire('durationchange');
      this._fire('loadedmetadata');
    }

    _firstFrame() {
      this._ui.note.hidden = true;
      this._ui.canvas.hidden = false;
      this._fit();
      for (const control of [this._ui.play, this._ui.time]) control.disabled = false;
      this._readyState = HAVE_CURRENT_DATA;
      this._fire('loadeddata');
      this._readyState = this._engine.complete ? HAVE_ENOUGH_DATA : HAVE_FUTURE_DATA;
      this._showPoster();
      this.progress();
      this._fire('canplay');
      if (this._engine.complete) this._fire('canplaythrough');
      if (this._startTime > 0) {
        this.currentTime = this._startTime;
        this._startTime = 0;
      }
      if (this._wantsToPlay || this.autoplay) this._startPlaying();
      else if (this.preload === 'metadata' && !this._dataWanted) this._fire('suspend');
    }

    progress() {
      this._fire('progress');
      if (this._engine.complete) {
        this._networkState = 1;
        if (this._readyState >= HAVE_FUTURE_DATA) this._raiseReadyState();
      }
      this._showTime();
    }

    // A new picture is on the display.
    _drawn() {
      this._ui.poster.hidden = true;
      this._showTime();
    }

    // Playing has moved the time on: timeupdate, every quarter of a second at most.
    _timeAdvanced() {
      const now = performance.now();
      if (now - this._lastTimeupdate < TIMEUPDATE_INTERVAL_MS) return;
      this._lastTimeupdate = now;
      this._fire('timeupdate');
    }

    // A seek that waited for its bytes can be made now.
    _seekArrived(target) {
      if (this._engine.guard(() => this._engine.seekFrame(target))) this._seekDone();
    }

    // Looping goes back to the first frame as a seek does, with its events.
    _loopToStart() {
      if (this._playedFrom !== null) this._playedRanges.push([this._playedFrom, this.duration]);
      this._playedFrom = null;
      this._seekFrame(0);
      this._playedFrom = 0;
    }

    waiting() {
      if (this._readyState > HAVE_CURRENT_DATA) this._readyState = HAVE_CURRENT_DATA;
      this._fire('waiting');
    }

    _playingAgain() {
      this._raiseReadyState();
      this._notifyPlaying(true);
    }

    // After a wait (or once everything has arrived): canplay, and canplaythrough once the
    // whole movie is there, each when its level is reached.
    _raiseReadyState() {
      const old = this._readyState;
      const level = this._engine.complete ? HAVE_ENOUGH_DATA : HAVE_FUTURE_DATA;
      if (level <= old) return;
      this._readyState = level;
      if (old < HAVE_FUTURE_DATA) this._fire('canplay');
      if (level === HAVE_ENOUGH_DATA) this._fire('canplaythrough');
    }

    _reachedEnd() {
      this._notePlayed();
      this._wantsToPlay = false;
      this._showPlaying();
      this._showTime();
      this._showMediaSession();
      this._fire('timeupdate');
      this._fire('pause');
      this._fire('ended');
    }

    _soundDamaged(track, frame) {
      this._fire('sounddamaged', { track, frame });
    }

    // ---- Inside ----

    _movie() { return this._engine.movie; }

    // preload="metadata": the fetch rests once the first picture is shown, until more is
    // needed.
    _holdsReading() {
      const movie = this._movie();
      return this.preload === 'metadata' && !this._dataWanted && Boolean(movie) &&
             movie.shown >= 0 && !movie.waiting;
    }

    _nameOf(url) {
      try {
        const path = new URL(url, document.baseURI).pathname;
        return decodeURIComponent(path.slice(path.lastIndexOf('/') + 1)) || url;
      } catch (ignored) {
        return url;
      }
    }

    _fire(type, detail) {
      queueTask(() => {
        this.dispatchEvent(detail === undefined ? new Event(type) : new CustomEvent(type, { detail }));
      });
    }

    // Seeks to a frame: seeking now, the picture at once (or once its bytes are there), and
    // timeupdate and seeked in a later task, where a newer seek supersedes this one.
    _seekFrame(target) {
      const playing = this._playedFrom !== null;
      this._notePlayed();
      this._wantData();
      this._seeking = true;
      this._seekNumber++;
      this._fire('seeking');
      const done = this._engine.guard(() => this._engine.seekFrame(target));
      if (playing && this._movie()) this._playedFrom = this.frame * this._movie().info.period;
      if (done) this._seekDone();
    }

    _seekDone() {
      const movie = this._movie();
      if (!movie || movie.failed) return;
      const number = this._seekNumber;
      queueTask(() => {
        if (number !== this._seekNumber || !this._seeking) return;
        this._seeking = false;
        this._raiseReadyState();
        this.dispatchEvent(new Event('timeupdate'));
        this.dispatchEvent(new Event('seeked'));
        this._showPlaying();
        this._showMediaSession();
      });
    }

    // Closes the range played since playing began or the last seek.
    _notePlayed() {
      if (this._playedFrom === null) return;
      this._playedRanges.push([this._playedFrom, this.currentTime]);
      this._playedFrom = null;
    }

    // A new src, load() or a refused load: what is under way is given up (abort), what was
    // there is let go (emptied), and any play() waiting is refused.
    _reset() {
      if (this._networkState === 1 || this._networkState === 2) this._fire('abort');
      const hadSomething = this._networkState !== 0;
      const hadMovie = Boolean(this._movie());
      this._engine.forget();
      this._error = null;
      this._readyState = HAVE_NOTHING;
      this._networkState = 0;
      this._seeking = false;
      this._deferred = null;
      this._dataWanted = false;
      this._startTime = 0;
      this._playedRanges = [];
      this._playedFrom = null;
      this._playAttempt++;
      this._rejectPlay(new DOMException('a new movie was loaded', 'AbortError'));
      this._wantsToPlay = false;
      this._showEmpty('No movie.');
      if (hadSomething) this._fire('emptied');
      if (hadMovie) this._fire('durationchange');
    }

    _startLoad(source, name) {
      this._reset();
      this._src = typeof source === 'string' ? new URL(source, document.baseURI).href : '';
      this._networkState = 2;
      this._fire('loadstart');
      if (typeof source === 'string' && this.preload === 'none' && !this.autoplay) {
        this._deferred = { source, name };
        this._networkState = 1;
        this._fire('suspend');
        return;
      }
      this._showEmpty('Loading ' + name + '\u2026');
      const engine = this._engine;
      engine.load(source, name, this.crossOrigin).catch((error) => {
        this.fail(ZambrelMediaError.MEDIA_ERR_SRC_NOT_SUPPORTED,
                  name + ': the decoder could not be loaded (' + (error.message || error) + ')');
      });
    }

    // A src held back by preload="none" is fetched once it is played, sought or preloaded.
    _loadDeferred() {
      const deferred = this._deferred;
      if (!deferred) return;
      this._deferred = null;
      this._networkState = 2;
      this._showEmpty('Loading ' + deferred.name + '\u2026');
      this._engine.load(deferred.source, deferred.name, this.crossOrigin).catch((error) => {
        this.fail(ZambrelMediaError.MEDIA_ERR_SRC_NOT_SUPPORTED, deferred.name +
                  ': the decoder could not be loaded (' + (error.message || error) + ')');
      });
    }

    // More than the first picture is needed (playing, a seek, preload="auto"): a fetch held
    // by preload="metadata" goes on.
    _wantData() {
      this._dataWanted = true;
      this._engine._readOn();
    }

    // Plays once the browser is known to let it: at once in most cases, else after asking
    // the audio context for a moment.
    _startPlaying() {
      const engine = this._engine;
      const blocked = engine.guard(() => engine._soundBlockedNow());
      if (blocked === null) {
        const attempt = this._playAttempt;
        engine._soundBlocked().catch(() => false).then((late) => {
          if (attempt !== this._playAttempt || !this._movie()) return;
          if (late) this._refusePlay();
          else this._commitPlay();
        });
      } else if (blocked) {
        this._refusePlay();
      } else {
        this._commitPlay();
      }
    }

    _refusePlay() {
      this._rejectPlay(new DOMException('the browser lets this movie play with sound only ' +
                                        'after the user acts on the page; mute it to start ' +
                                        'it without', 'NotAllowedError'));
      if (!this._wantsToPlay) return;
      this._wantsToPlay = false;
      this._showPlaying();
      this._fire('pause');
    }

    _commitPlay() {
      const engine = this._engine;
      const movie = this._movie();
      if (movie.playing) {
        if (!movie.waiting) this._notifyPlaying(false);
        return;
      }
      const wasPaused = !this._wantsToPlay;
      this._wantsToPlay = true;
      if (movie.ended) this._seekFrame(0);
      engine.guard(() => engine.play());
      if (!movie.playing) {
        this._wantsToPlay = false;
        this._showPlaying();
        this._rejectPlay(new DOMException(this._error ? this._error.message : 'the movie cannot play',
                                          'NotSupportedError'));
        return;
      }
      this._playedFrom = this.currentTime;
      this._claimMediaSession();
      this._showPlaying();
      this._showMediaSession();
      this._showPoster();
      if (wasPaused) this._fire('play');
      if (!movie.waiting) this._notifyPlaying(true);
    }

    // <video>'s order: playing (when it has just begun, or goes on after a wait), then the
    // waiting play() promises resolve, in a later task.
    _notifyPlaying(fire) {
      const promises = this._playPromises.splice(0);
      queueTask(() => {
        if (fire) this.dispatchEvent(new Event('playing'));
        for (const { resolve } of promises) resolve();
      });
    }

    _rejectPlay(error) {
      for (const { reject } of this._playPromises.splice(0)) reject(error);
    }

    _claimMediaSession() {
      const session = navigator.mediaSession;
      if (!session) return;
      mediaSessionOwner = this;
      if (typeof MediaMetadata === 'function')
        session.metadata = new MediaMetadata({ title: this.title || this._engine.name });
      const seekBy = (seconds) => {
        this.currentTime = Math.max(0, Math.min(this.duration, this.currentTime + seconds));
      };
      const actions = {
        play: () => this.play().catch(() => {}), pause: () => this.pause(),
        seekto: (details) => { this.currentTime = details.seekTime; },
        seekbackward: (details) => seekBy(-(details.seekOffset || 10)),
        seekforward: (details) => seekBy(details.seekOffset || 10),
      };
      for (const [action, handler] of Object.entries(actions)) {
        try {
          session.setActionHandler(action, handler);
        } catch (ignored) { /* an action this browser does not offer */ }
      }
    }

    _showMediaSession() {
      const session = navigator.mediaSession;
      if (!session || mediaSessionOwner !== this) return;
      session.playbackState = this.paused ? 'paused' : 'playing';
      if (!session.setPositionState || !(this.duration > 0)) return;
      try {
        session.setPositionState({ duration: this.duration, playbackRate: 1,
                                   position: Math.min(this.currentTime, this.duration) });
      } catch (ignored) { /* a browser that refuses the position keeps its own */ }
    }

    _showEmpty(text) {
      const ui = this._ui;
      ui.canvas.hidden = true;
      ui.note.hidden = false;
      ui.note.textContent = text;
      for (const control of [ui.play, ui.time, ui.tracks]) control.disabled = true;
      ui.tracks.hidden = true;
      ui.clock.textContent = '--:-- / --:--';
      ui.time.value = '0';
      ui.time.style.background = '';
      this._showPoster();
      this._showPlaying();
    }

    _showPoster() {
      const movie = this._movie();
      this._ui.poster.hidden = !this.poster || Boolean(movie && movie.shown > 0) ||
                               Boolean(movie && movie.playing);
    }

    _showPlaying() {
      const playing = !this.paused;
      const shows = playing ? 'pause' : 'play';
      if (this._ui.play.dataset.shows !== shows) {
        this._ui.play.dataset.shows = shows;
        this._ui.play.innerHTML = icons[shows];
      }
      this._ui.play.setAttribute('aria-label', playing ? 'Pause' : 'Play');
    }

    _showVolume() {
      this._ui.volume.value = String(this.volume);
      this._ui.mute.setAttribute('aria-pressed', String(this.muted));
      this._ui.mute.innerHTML = this.muted || this.volume === 0 ? icons.muted : icons.sound;
    }

    // Hidden controls are brought up to date when shown: every picture drawn comes here, and
    // changing the page costs the browser more than the picture did.
    _showTime() {
      const movie = this._movie();
      if (!movie || !this.controls) return;
      const ui = this._ui;
      const now = this.currentTime, total = this.duration;
      const text = clockText(now) + ' / ' + clockText(total);
      if (ui.clock.textContent !== text) ui.clock.textContent = text;
      if (!this._dragging) ui.time.value = String(Math.max(0, movie.shown));
      ui.time.setAttribute('aria-valuetext', clockText(now) + ' of ' + clockText(total) +
                           ', frame ' + (Math.max(0, movie.shown) + 1) + ' of ' +
                           movie.info.frameCount);
      const buffered = this.buffered;
      const share = buffered.length && total > 0 ? 100 * buffered.end(0) / total : 0;
      ui.time.style.background = share < 100
        ? `linear-gradient(to right, #5a5a5a ${share}%, #262626 ${share}%)` : '';
      this._showPlaying();
    }

    _showTracks() {
      const movie = this._movie();
      const select = this._ui.tracks;
      select.textContent = '';
      if (!movie || movie.soundTracks.length === 0) {
        select.hidden = true;
        return;
      }
      const enabled = movie.soundTracks.filter((t) => movie.enabled[t]);
      const all = movie.soundTracks.length > 1 ? 'all tracks' : 'sound on';
      select.append(new Option(all, 'all'));
      if (movie.soundTracks.length > 1)
        for (const t of movie.soundTracks) select.append(new Option('track ' + t, String(t)));
      select.append(new Option('sound off', 'none'));
      select.value = enabled.length === movie.soundTracks.length ? 'all'
                   : enabled.length === 1 ? String(enabled[0]) : 'none';
      if (enabled.length > 1 && enabled.length < movie.soundTracks.length) select.value = 'all';
      select.hidden = false;
      select.disabled = false;
    }

    _chooseTracks(choice) {
      const movie = this._movie();
      if (!movie) return;
      for (const t of movie.soundTracks)
        this._engine._setTrackEnabled(t, choice === 'all' || choice === String(t));
    }

    // Whole device pixels per movie pixel while the picture is at least its own size in CSS
    // pixels, so it stays sharp; below that (a phone) it is scaled smoothly to the width.
    _fit() {
      const movie = this._movie();
      if (!movie) return;
      const { width, height } = movie.info;
      const ratio = window.devicePixelRatio || 1;
      const roomWidth = this.clientWidth;
      let roomHeight = Infinity;
      const limit = parseFloat(getComputedStyle(this).maxHeight);
      const controls = this.controls ? this._ui.controls.offsetHeight : 0;
      if (document.fullscreenElement === this) roomHeight = this.clientHeight - controls;
      else if (Number.isFinite(limit)) roomHeight = limit - controls;
      if (!(roomWidth > 0)) return;
      const scale = Math.min(roomWidth / width, roomHeight / height);
      const whole = Math.floor(scale * ratio);
      const sharp = whole >= ratio;
      const factor = sharp ? whole / ratio : scale;
      this._ui.canvas.classList.toggle('smooth', !sharp);
      this._ui.canvas.style.width = (width * factor) + 'px';
      this._ui.canvas.style.height = (height * factor) + 'px';
    }

    _toggleFullscreen() {
      if (document.fullscreenElement === this) document.exitFullscreen().catch(() => {});
      else this.requestFullscreen().catch(() => {});
    }

    _seekBy(seconds) {
      const movie = this._movie();
      if (!movie) return;
      this.frame = movie.shown + Math.round(seconds / movie.info.period);
    }

    // The player's own keys act when the player itself has focus; a focused control keeps
    // its own keys (Space and Enter press a button, arrows move a slider).
    _onKey(event) {
      if (event.altKey || event.ctrlKey || event.metaKey) return;
      const target = event.composedPath()[0];
      if (target !== this) return;
      const actions = {
        ' ': () => (this.paused ? this.play().catch(() => {}) : this.pause()),
        'k': () => (this.paused ? this.play().catch(() => {}) : this.pause()),
        'Enter': () => this.step(), '.': () => this.step(),
        'ArrowLeft': () => this._seekBy(-1), 'ArrowRight': () => this._seekBy(1),
        'ArrowDown': () => this._seekBy(-10), 'ArrowUp': () => this._seekBy(10),
        'Home': () => { this.frame = 0; },
        'End': () => { this.frame = this.frameCount - 1; },
        'Escape': () => {
          if (document.fullscreenElement === this) return;
          this.pause();
          this.frame = 0;
        },
        'f': () => this._toggleFullscreen(), 'm': () => { this.muted = !this.muted; },
      };
      const action = actions[event.key];
      if (!action || !this._movie() && event.key !== 'f') return;
      event.preventDefault();
      action();
    }

    _wire() {
      const ui = this._ui;
      ui.play.addEventListener('click', () => {
        if (this.paused) this.play().catch(() => {});
        else this.pause();
      });
      ui.time.addEventListener('input', () => {
        this._dragging = true;
        const movie = this._movie();
        if (movie) ui.clock.textContent = clockText(Number(ui.time.value) * movie.info.period) +
                                          ' / ' + clockText(this.duration);
      });
      ui.time.addEventListener('change', () => {
        this._dragging = false;
        this.frame = Number(ui.time.value);
      });
      ui.mute.addEventListener('click', () => { this.muted = !this.muted; });
      ui.volume.addEventListener('input', () => {
        this.volume = Number(ui.volume.value);
        if (this.volume > 0 && this.muted) this.muted = false;
      });
      ui.tracks.addEventListener('change', () => this._chooseTracks(ui.tracks.value));
      ui.fullscreen.addEventListener('click', () => this._toggleFullscreen());
      ui.screen.addEventListener('dblclick', () => this._toggleFullscreen());
      ui.screen.addEventListener('click', () => this.focus({ preventScroll: true }));
      this.addEventListener('keydown', (event) => this._onKey(event));
      this._refit = () => requestAnimationFrame(() => this._fit());
      this._visibility = () => this._engine.guard(() => this._engine._visibilityChanged());
    }

    // Only for the tests and the benchmark: the engine itself.
    get [testHook]() { return this._engine; }
  }

  if (typeof customElements === 'undefined') {
    ZambrelPlayer.MediaError = ZambrelMediaError;
    return ZambrelPlayer;
  }
  if (!customElements.get('zambrel-player')) customElements.define('zambrel-player', ZambrelPlayer);
  const defined = customElements.get('zambrel-player');
  defined.MediaError = ZambrelMediaError;
  return defined;
}
