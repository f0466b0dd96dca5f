// SPDX-License-Identifier: MIT
// The web player: opens a dropped or picked movie with the decoder compiled to WebAssembly,
// draws its changed rectangles on a canvas, plays every sound track through Web Audio and
// paces the pictures by the audio clock (by the page's clock when there is no sound).
// A plain script rather than an ES module, so that the page also runs from file://.
(function () {
  'use strict';

  const ZAMBERR_END = 1;
  const ZAMBERR_NO_MEMORY = -2;
  const MAX_TRACKS = 7;
  // Sound is scheduled this far ahead of the frame it belongs to, so the first buffer after
  // a start or a seek is never already late when it reaches the audio thread.
  const LEAD_SECONDS = 0.1;
  // Later than this, catching up frame by frame would race through the movie: the clock is
  // set again from the frame at hand instead.
  const LATE_SECONDS = 0.25;
  // A test that checks every sample can ask that no frame is ever given up (see the hook).
  let lateSeconds = LATE_SECONDS;
  const MAX_FRAMES_PER_TICK = 8;
  // A new audio context takes a moment to start; the pictures wait this long for it before
  // they go on by the page's clock (the browser may hold the sound back until a click).
  const AUDIO_START_SECONDS = 0.5;
  // Web Audio buffers take rates in this range; a track outside it plays silently.
  const MIN_AUDIO_RATE = 3000, MAX_AUDIO_RATE = 768000;

  const $ = (id) => document.getElementById(id);
  const ui = {
    file: $('file'), message: $('message'), screen: $('screen'), hint: $('hint'),
    canvas: $('picture'), play: $('play'), step: $('step'), stop: $('stop'),
    back: $('back'), forward: $('forward'), position: $('position'), frame: $('frame'),
    tracks: $('tracks'), facts: $('facts'), version: $('version'),
  };
  const testing = new URLSearchParams(location.search).has('test');

  let wasm = null;     // the decoder module, null until loaded or after it failed
  let movie = null;    // the open movie's facts and playing state
  let audio = null;    // { context, master, gains[] } once Web Audio is set up
  let tickRequest = 0;

  // ---- Messages -----------------------------------------------------------------------

  function showMessage(text) {
    ui.message.textContent = text;
  }

  function errorText(code) {
    return wasm ? wasm.UTF8ToString(wasm._WebErrorString(code)) : 'error ' + code;
  }

  // Every entry point from the page runs through here: a decoder that aborted (a bug, or
  // memory the browser would not give) must leave a message and a page that still works.
  function guarded(action) {
    return function (...args) {
      try {
        const result = action.apply(this, args);
        if (result && typeof result.catch === 'function') result.catch(decoderFailed);
        return result;
      } catch (error) {
        decoderFailed(error);
        return undefined;
      }
    };
  }

  function decoderFailed(error) {
    showMessage('The decoder stopped: ' + (error && error.message ? error.message : error) +
                '. Open the movie again to retry.');
    wasm = null;  // a module that aborted must not be called again, not even to close
    forgetMovie();
    decoderReady = loadDecoder();
  }

  // ---- The decoder module ---------------------------------------------------------------

  function loadDecoder() {
    if (typeof WebAssembly !== 'object' || typeof ZambrelModule !== 'function') {
      showMessage('This browser cannot run WebAssembly, which the player needs.');
      ui.file.disabled = true;
      return Promise.resolve(null);
    }
    return ZambrelModule({ onAbort: () => {}, printErr: () => {} }).then((module) => {
      wasm = module;
      ui.version.textContent = '(decoder ' + wasm.UTF8ToString(wasm._WebVersion()) + ')';
      return wasm;
    }, (error) => {
      showMessage('The decoder could not be loaded: ' + error);
      return null;
    });
  }
  let decoderReady = loadDecoder();

  function heap() {
    return wasm.HEAPU8;
  }

  // The facts, as the glue lays them out: eight words, then seven per track.
  function readInfo() {
    const words = new Uint32Array(heap().buffer, wasm._WebInfo(), 8 + 7 * MAX_TRACKS).slice();
    const info = {
      width: words[0], height: words[1], storedHeight: words[2], frameCount: words[3],
      durationNum: words[4], durationDen: words[5], flags: words[6], largestFrame: words[7],
      tracks: [],
    };
    for (let t = 0; t < MAX_TRACKS; t++) {
      const w = words.subarray(8 + 7 * t, 15 + 7 * t);
      info.tracks.push({ present: w[0] !== 0, decoded: w[1] !== 0, rate: w[2], channels: w[3],
                         bits: w[4], bytesPerSecond: w[5], compressed: w[6] !== 0 });
    }
    info.period = info.durationDen ? info.durationNum / info.durationDen : 0;
    return info;
  }

  // ---- Web Audio ------------------------------------------------------------------------

  function ensureAudio() {
    if (audio) return audio;
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return null;
    const context = new Context();
    const master = context.createGain();
    master.connect(context.destination);
    const gains = [];
    for (let t = 0; t < MAX_TRACKS; t++) {
      const gain = context.createGain();
      gain.connect(master);
      gains.push(gain);
    }
    audio = { context, master, gains };
    // A context the browser held back until the user acted starts later; the frames are
    // then paced by it from that moment.
    // A held sound that plays on is already where it belongs.
    context.addEventListener('statechange', guarded(() => {
      if (!movie) return;
      if (movie.playing && !movie.heldSoundResuming) resync(true);
      if (context.state === 'running') movie.heldSoundResuming = false;
    }));
    return audio;
  }

  function audioRunning() {
    return audio !== null && audio.context.state === 'running';
  }

  // The movie's clock in seconds: the audio clock while there is sound to follow, so that
  // the pictures keep with what is heard, else the page's own clock.
  function clockNow() {
    if (movie && movie.soundTracks.length > 0 && audioRunning()) return audio.context.currentTime;
    return performance.now() / 1000;
  }

  function stopSound() {
    if (!movie) return;
    for (const source of movie.sources) {
      if (source.startTime > audio.context.currentTime) forgetHanded(source.part);
      source.onended = null;
      try { source.stop(); } catch (ignored) { /* never started */ }
      source.disconnect();
    }
    movie.sources.clear();
  }

  // Hands one frame's sound of each track to Web Audio, right after the sound before it.
  function scheduleSound(sound) {
    if (!audioRunning()) return;
    const context = audio.context;
    for (const part of sound) {
      if (part.rate < MIN_AUDIO_RATE || part.rate > MAX_AUDIO_RATE) continue;
      const buffer = context.createBuffer(part.channels.length, part.channels[0].length, part.rate);
      part.channels.forEach((samples, c) => buffer.copyToChannel(samples, c));
      const source = context.createBufferSource();
      source.buffer = buffer;
      source.connect(audio.gains[part.track]);
      const start = Math.max(movie.cursor[part.track], context.currentTime);
      source.start(start);
      movie.cursor[part.track] = start + buffer.duration;
      movie.sources.add(source);
      source.onended = () => movie && movie.sources.delete(source);
      source.part = part;
      source.startTime = start;
      if (movie.handed && !part.handed) movie.handed[part.track].push(part);
      part.handed = true;
    }
  }

  // Sound stopped before it began was never heard: the test record drops it, so that it
  // shows whether that sound is handed out again.
  function forgetHanded(part) {
    if (!part.handed) return;
    part.handed = false;
    if (!movie.handed) return;
    const record = movie.handed[part.track];
    const at = record.lastIndexOf(part);
    if (at >= 0) record.splice(at, 1);
  }

  function applyTrackChoice() {
    if (!audio) return;
    const choice = ui.tracks.value;
    audio.gains.forEach((gain, t) => {
      gain.gain.value = choice === 'all' || choice === String(t) ? 1 : 0;
    });
  }

  // ---- Decoding and drawing ---------------------------------------------------------------

  // Decodes the next frame into the decoder (not yet onto the canvas) and takes its sound.
  // Returns false at the end of the movie or after a failure, which it reports.
  function decodeNext() {
    const error = wasm._WebNextFrame();
    if (error === ZAMBERR_END) return false;
    if (error < 0) {
      failPlaying(error);
      return false;
    }
    movie.pending = takeFrameSound();
    if (movie.playing) scheduleSound(movie.pending);
    return true;
  }

  function takeFrameSound() {
    const sound = [];
    for (const track of movie.soundTracks) {
      const frames = wasm._WebFrameSound(track);
      if (frames <= 0) continue;
      const info = movie.info.tracks[track];
      const all = new Float32Array(heap().buffer, wasm._WebSamples(), frames * info.channels);
      const channels = [];
      for (let c = 0; c < info.channels; c++)
        channels.push(all.slice(c * frames, (c + 1) * frames));
      sound.push({ track, rate: info.rate, channels, handed: false });
    }
    return sound;
  }

  function failPlaying(error) {
    const where = movie.shown + 1;
    pause();
    movie.failed = true;
    showMessage('Frame ' + where + ' of ' + movie.name + ' could not be decoded: ' +
                errorText(error));
  }

  // The RGBA picture lives in wasm memory; its view is made again whenever that memory grew.
  function pictureData() {
    if (!movie.image || movie.image.data.buffer !== heap().buffer) {
      const { width, height } = movie.info;
      const bytes = new Uint8ClampedArray(heap().buffer, wasm._WebPicture(), width * height * 4);
      movie.image = new ImageData(bytes, width, height);
    }
    return movie.image;
  }

  // Brings the decoder's picture of the current frame into the RGBA buffer and notes what
  // changed; the canvas is updated by flushPicture, once per display refresh at most.
  function updatePicture(whole) {
    const result = wasm._WebUpdatePicture(whole ? 1 : 0);
    if (result < -1) {
      failPlaying(result);
      return;
    }
    if (result === -1) {
      movie.dirty = null;
    } else if (movie.dirty) {
      movie.partialFrames++;
      const rects = new Int32Array(heap().buffer, wasm._WebRects(), 4 * result);
      for (let i = 0; i < result; i++) movie.dirty.push(rects.subarray(4 * i, 4 * i + 4).slice());
    }
    movie.shown = wasm._WebFrameNumber();
    movie.shownSound = movie.pending;
    movie.pending = null;
  }

  function flushPicture() {
    const image = pictureData();
    if (movie.dirty === null) {
      movie.context2d.putImageData(image, 0, 0);
    } else {
      for (const [x, y, w, h] of movie.dirty) movie.context2d.putImageData(image, 0, 0, x, y, w, h);
    }
    movie.dirty = [];
    showPosition();
  }

  function showFrameNow(whole) {
    updatePicture(whole);
    flushPicture();
  }

  // ---- Pacing ----------------------------------------------------------------------------

  function dueTime(frame) {
    return movie.anchorTime + (frame - movie.anchorFrame) * movie.info.period;
  }

  // Sets the clock so that the frame on screen (with `fromShown`) or the next one starts a
  // little from now, silences what was scheduled and hands the sound out again from there:
  // starting (or playing on after a step or a seek) plays the shown frame's sound, as the
  // desktop player replays the last chunk when its sound is switched on again.
  function resync(fromShown) {
    stopSound();
    movie.anchorFrame = fromShown ? movie.shown : movie.shown + 1;
    movie.anchorTime = clockNow() + LEAD_SECONDS;
    movie.cursor.fill(audioRunning() ? audio.context.currentTime + LEAD_SECONDS : 0);
    if (!movie.playing) return;
    if (fromShown && movie.shownSound) scheduleSound(movie.shownSound);
    if (movie.pending) scheduleSound(movie.pending);
  }

  function requestTick() {
    if (!tickRequest) tickRequest = requestAnimationFrame(guarded(tick));
  }

  // One display refresh: every frame that has come due is decoded into the picture (each
  // right after the one before is drawn, so its sound is scheduled a frame ahead), and the
  // canvas is updated once.
  function tick() {
    tickRequest = 0;
    if (!movie || !movie.playing) return;
    if (waitingForAudio()) {
      requestTick();
      return;
    }
    let drawn = 0;
    while (drawn < MAX_FRAMES_PER_TICK) {
      if (!movie.pending && !decodeNext()) {
        if (movie.playing) finishPlaying();
        break;
      }
      const late = clockNow() - dueTime(movie.shown + 1);
      if (late < 0) break;
      updatePicture(false);
      drawn++;
      if (!movie.playing) break;
      if (late > lateSeconds) {
        if (decodeNext()) resync(false);
        break;
      }
      if (!decodeNext()) {
        finishPlaying();
        break;
      }
    }
    if (drawn > 0) flushPicture();
    if (movie && movie.playing) requestTick();
  }

  function waitingForAudio() {
    return movie.soundTracks.length > 0 && audio !== null && !audioRunning() &&
           performance.now() - movie.playStarted < AUDIO_START_SECONDS * 1000;
  }

  // The last frame's sound is left to play out; only a pause or a stop cuts it short.
  function finishPlaying() {
    movie.playing = false;
    movie.ended = !movie.failed;
    showPosition();
  }

  // ---- Controls ---------------------------------------------------------------------------

  function play() {
    if (!movie || movie.playing || movie.failed) return;
    if (movie.soundHeld) {
      resumeHeldSound();
      return;
    }
    if (movie.ended) {
      seek(0);
      movie.ended = false;
    }
    const sound = movie.soundTracks.length > 0 ? ensureAudio() : null;
    if (sound && sound.context.state !== 'running') sound.context.resume().catch(() => {});
    movie.playing = true;
    movie.playStarted = performance.now();
    resync(true);
    requestTick();
    showPosition();
  }

  // A pause holds the sound where it is, every buffer already handed out with it, so that
  // playing on neither loses nor repeats a sample, however far the movie's sound leads its
  // pictures. Anything else done while paused lets that held sound go.
  function pause() {
    if (!movie) return;
    movie.playing = false;
    if (audioRunning() && movie.soundTracks.length > 0 && movie.sources.size > 0) {
      movie.soundHeld = true;
      audio.context.suspend().catch(() => {});
    } else {
      stopSound();
    }
    showPosition();
  }

  function resumeHeldSound() {
    movie.soundHeld = false;
    movie.heldSoundResuming = true;
    movie.playing = true;
    movie.playStarted = performance.now();
    audio.context.resume().catch(() => {});
    requestTick();
    showPosition();
  }

  function releaseHeldSound() {
    if (!movie || !movie.soundHeld) return;
    movie.soundHeld = false;
    stopSound();
  }

  function togglePlay() {
    if (movie && movie.playing) pause();
    else play();
  }

  // Enter: one more frame while paused, without its sound.
  function step() {
    if (!movie || movie.playing || movie.failed) return;
    releaseHeldSound();
    if (!movie.pending && !decodeNext()) {
      movie.ended = !movie.failed;
      showPosition();
      return;
    }
    showFrameNow(false);
  }

  function stop() {
    if (!movie) return;
    pause();
    seek(0);
    movie.ended = false;
  }

  // Frames cannot be decoded on their own: the decoder goes through every frame from the
  // start (or from the current one) to reach the target.
  function seek(target) {
    if (!movie) return;
    releaseHeldSound();
    target = Math.max(0, Math.min(movie.info.frameCount - 1, target));
    const error = wasm._WebSeek(target);
    if (error < 0) {
      failPlaying(error);
      return;
    }
    movie.failed = false;
    movie.ended = false;
    movie.pending = takeFrameSound();
    showFrameNow(true);
    if (movie.playing) resync(true);
  }

  function seekBy(seconds) {
    if (!movie) return;
    const frames = movie.info.period > 0 ? Math.round(seconds / movie.info.period) : 10 * seconds;
    seek(movie.shown + frames);
  }

  function showPosition() {
    if (!movie) return;
    ui.position.value = String(Math.max(0, movie.shown));
    ui.frame.textContent = (movie.shown + 1) + ' / ' + movie.info.frameCount;
    ui.play.textContent = movie.playing ? 'Pause' : 'Play';
    ui.step.disabled = movie.playing;
  }

  const keys = {
    ' ': togglePlay, 'Enter': step, 'Escape': stop,
    'ArrowLeft': () => seekBy(-1), 'ArrowRight': () => seekBy(1),
    'ArrowDown': () => seekBy(-10), 'ArrowUp': () => seekBy(10),
  };

  function onKey(event) {
    const action = keys[event.key];
    if (!action || event.altKey || event.ctrlKey || event.metaKey) return;
    if (event.target === ui.tracks || event.target === ui.file) return;
    event.preventDefault();
    action();
  }

  // ---- Opening -----------------------------------------------------------------------------

  function forgetMovie() {
    if (tickRequest) cancelAnimationFrame(tickRequest);
    tickRequest = 0;
    if (movie) stopSound();
    movie = null;
    if (wasm) wasm._WebClose();
    ui.canvas.hidden = true;
    ui.hint.hidden = false;
    ui.hint.textContent = 'No movie open.';
    ui.facts.textContent = '';
    ui.frame.textContent = '\u2013';
    for (const control of [ui.play, ui.step, ui.stop, ui.back, ui.forward, ui.position, ui.tracks])
      control.disabled = true;
  }

  async function openFile(file) {
    showMessage('');
    forgetMovie();
    if (!(await decoderReady) || !wasm) {
      if (!ui.message.textContent) showMessage('The decoder is not available.');
      return;
    }
    const bytes = new Uint8Array(await file.arrayBuffer());
    const input = wasm._WebInputBuffer(bytes.length);
    if (!input) {
      showMessage(file.name + ': ' + errorText(ZAMBERR_NO_MEMORY));
      return;
    }
    heap().set(bytes, input);
    const error = wasm._WebOpen();
    if (error < 0) {
      showMessage(file.name + ': ' + errorText(error));
      return;
    }
    startMovie(file.name, readInfo());
  }

  function startMovie(name, info) {
    const soundTracks = [];
    info.tracks.forEach((track, t) => { if (track.decoded) soundTracks.push(t); });
    movie = {
      name, info, soundTracks, playing: false, ended: false, failed: false, shown: -1,
      pending: null, shownSound: null, dirty: [], partialFrames: 0, image: null,
      sources: new Set(), cursor: new Array(MAX_TRACKS).fill(0), anchorTime: 0,
      anchorFrame: 0, playStarted: 0, context2d: null,
      handed: testing ? info.tracks.map(() => []) : null,
    };
    prepareCanvas();
    showFacts();
    fillTrackChoice();
    for (const control of [ui.play, ui.step, ui.stop, ui.back, ui.forward, ui.position])
      control.disabled = false;
    ui.position.max = String(info.frameCount - 1);
    if (soundTracks.length > 0 && !ensureAudio())
      showMessage('This browser has no Web Audio: the movie plays without its sound.');
    if (!decodeNext()) return;
    showFrameNow(true);
    play();
  }

  function prepareCanvas() {
    const { width, height } = movie.info;
    ui.canvas.width = width;
    ui.canvas.height = height;
    movie.context2d = ui.canvas.getContext('2d', { alpha: false });
    ui.hint.hidden = true;
    ui.canvas.hidden = false;
    fitCanvas();
  }

  // Whole device pixels per movie pixel, as many as fit, so the picture stays sharp.
  function fitCanvas() {
    if (!movie) return;
    const ratio = window.devicePixelRatio || 1;
    const room = ui.screen.clientWidth * ratio;
    const height = Math.max(window.innerHeight * 0.75, 120) * ratio;
    const factor = Math.max(1, Math.floor(Math.min(room / movie.info.width,
                                                   height / movie.info.height)));
    ui.canvas.style.width = (movie.info.width * factor / ratio) + 'px';
    ui.canvas.style.height = (movie.info.height * factor / ratio) + 'px';
  }

  function showFacts() {
    const { info } = movie;
    const rate = info.period > 0 ? (1 / info.period).toFixed(2).replace(/\.?0+$/, '') +
                                   ' frames a second' : 'as fast as it decodes';
    const facts = [['Movie', movie.name], ['Size', info.width + ' \u00d7 ' + info.height],
                   ['Frames', String(info.frameCount)], ['Rate', rate]];
    info.tracks.forEach((track, t) => {
      if (!track.present) return;
      const format = track.rate + ' Hz, ' + track.bits + '-bit ' +
                     (track.channels === 2 ? 'stereo' : 'mono') +
                     (track.compressed ? ', delta-coded' : '');
      const playable = track.decoded && track.rate >= MIN_AUDIO_RATE &&
                       track.rate <= MAX_AUDIO_RATE;
      facts.push(['Track ' + t, format + (playable ? '' : ' (not played)')]);
    });
    if (!info.tracks.some((track) => track.present)) facts.push(['Sound', 'none']);
    ui.facts.textContent = '';
    for (const [term, value] of facts) {
      const dt = document.createElement('dt');
      dt.textContent = term;
      const dd = document.createElement('dd');
      dd.textContent = value;
      ui.facts.append(dt, dd);
    }
  }

  function fillTrackChoice() {
    ui.tracks.textContent = '';
    const all = new Option(movie.soundTracks.length > 1 ? 'all tracks, mixed' : 'on', 'all');
    ui.tracks.append(all);
    if (movie.soundTracks.length > 1)
      for (const t of movie.soundTracks) ui.tracks.append(new Option('track ' + t, String(t)));
    ui.tracks.append(new Option('off', 'none'));
    ui.tracks.value = 'all';
    ui.tracks.disabled = movie.soundTracks.length === 0;
    applyTrackChoice();
  }

  // ---- Wiring ------------------------------------------------------------------------------

  ui.file.addEventListener('change', guarded(() => {
    if (ui.file.files.length > 0) return openFile(ui.file.files[0]);
    return undefined;
  }));
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', guarded((event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const files = event.dataTransfer && event.dataTransfer.files;
    return files && files.length > 0 ? openFile(files[0]) : undefined;
  }));
  document.addEventListener('keydown', guarded(onKey));
  ui.play.addEventListener('click', guarded(togglePlay));
  ui.step.addEventListener('click', guarded(step));
  ui.stop.addEventListener('click', guarded(stop));
  ui.back.addEventListener('click', guarded(() => seekBy(-1)));
  ui.forward.addEventListener('click', guarded(() => seekBy(1)));
  ui.position.addEventListener('input', () => {
    if (movie)
      ui.frame.textContent = (Number(ui.position.value) + 1) + ' / ' + movie.info.frameCount;
  });
  ui.position.addEventListener('change', guarded(() => seek(Number(ui.position.value))));
  ui.tracks.addEventListener('change', guarded(applyTrackChoice));
  window.addEventListener('resize', fitCanvas);

  // ---- Test and benchmark hook -----------------------------------------------------------

  // Only with ?test in the address: what the page handed to Web Audio, frame by frame, is
  // kept so that a test can compare it with the decoded sound.
  if (testing) {
    window.zambrelTest = {
      ready: () => decoderReady.then(() => wasm !== null),
      state: () => movie ? { shown: movie.shown, playing: movie.playing, ended: movie.ended,
                             frameCount: movie.info.frameCount, width: movie.info.width,
                             height: movie.info.height, tracks: movie.soundTracks.slice(),
                             partialFrames: movie.partialFrames }
                         : null,
      message: () => ui.message.textContent,
      pause: guarded(pause),
      // A page stalled past LATE_SECONDS (a loaded test machine) gives up the sound of the
      // frames it skips; a test that compares every sample catches up frame by frame instead.
      catchUpEveryFrame: () => { lateSeconds = Infinity; },
      // Every sample of `track`'s channel `channel` handed out so far, as little-endian
      // float32 bytes in base64.
      handedSound: (track, channel) => {
        const parts = movie.handed[track].map((part) => part.channels[channel]);
        const total = parts.reduce((sum, part) => sum + part.length, 0);
        const all = new Float32Array(total);
        let at = 0;
        for (const part of parts) { all.set(part, at); at += part.length; }
        return base64(new Uint8Array(all.buffer));
      },
      // Decodes and draws the whole movie from its start, as fast as it can, as many times
      // as fit in `seconds`.
      benchmark: guarded((seconds) => {
        pause();
        const start = performance.now();
        let frames = 0;
        do {
          seek(0);
          frames++;
          while (decodeNext()) {
            showFrameNow(false);
            frames++;
          }
          movie.context2d.getImageData(0, 0, 1, 1);  // waits until the drawing is done
        } while (performance.now() - start < seconds * 1000);
        return { frames, seconds: (performance.now() - start) / 1000 };
      }),
    };
  }

  function base64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }
})();
