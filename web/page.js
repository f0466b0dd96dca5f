// SPDX-License-Identifier: MIT
// The page around one <zambrel-player>: a movie picked or dropped is handed to the element,
// its facts are listed beside it, and what the element reports is said in plain words.
// A plain script rather than an ES module, so that the page also runs from file://.
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const ui = { file: $('file'), message: $('message'), notes: $('notes'), player: $('player'),
               facts: $('facts') };
  const player = ui.player;
  const testing = new URLSearchParams(location.search).has('test');
  let name = '';

  // The movie plays as soon as it can, and the player takes the keys, both asked for here
  // rather than on a later event: a key pressed in between (browsers handle input ahead of
  // queued events) would otherwise go to the page, or be undone by a late play().
  function open(file) {
    name = file.name;
    player.loadBytes(file, file.name);
    player.focus({ preventScroll: true });
    player.play().catch(() => {});
  }

  function note(text) {
    const line = document.createElement('p');
    line.style.margin = '0';
    line.textContent = text;
    ui.notes.append(line);
  }

  function showFacts() {
    const period = player.duration / player.frameCount;
    const timed = player.frameCount > 0 && Math.abs(period - 1 / 60) > 1e-9;
    const rate = timed ? (1 / period).toFixed(2).replace(/\.?0+$/, '') + ' frames a second'
                       : 'as fast as it decodes';
    const facts = [['Movie', name], ['Size', player.videoWidth + ' \u00d7 ' + player.videoHeight],
                   ['Frames', String(player.frameCount)], ['Rate', rate]];
    for (const track of player.tracks) {
      const format = track.sampleRate + ' Hz, ' + track.bitsPerSample + '-bit ' +
                     (track.channels === 2 ? 'stereo' : 'mono') +
                     (track.compressed ? ', delta-coded' : '');
      facts.push(['Track ' + track.index, format + (track.playable ? '' : ' (not played)')]);
    }
    if (player.tracks.length === 0) facts.push(['Sound', 'none']);
    ui.facts.textContent = '';
    for (const [term, value] of facts) {
      const dt = document.createElement('dt');
      dt.textContent = term;
      const dd = document.createElement('dd');
      dd.textContent = value;
      ui.facts.append(dt, dd);
    }
  }

  player.addEventListener('loadstart', () => {
    ui.message.textContent = '';
    ui.notes.textContent = '';
    ui.facts.textContent = '';
  });
  player.addEventListener('loadedmetadata', showFacts);
  player.addEventListener('error', () => {
    ui.message.textContent = player.error.message;
  });
  player.addEventListener('sounddamaged', (event) => {
    note('Track ' + event.detail.track + '\u2019s sound is damaged in frame ' +
         (event.detail.frame + 1) + ' of ' + player.frameCount + '.');
  });

  ui.file.addEventListener('change', () => {
    if (ui.file.files.length > 0) open(ui.file.files[0]);
  });
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const files = event.dataTransfer && event.dataTransfer.files;
    if (!files || files.length === 0) return;
    // The file input names the dropped movie too, instead of "No file chosen".
    try {
      ui.file.files = files;
    } catch (ignored) { /* a browser that will not take the list keeps its own text */ }
    open(files[0]);
  });

  if (typeof WebAssembly !== 'object') {
    ui.message.textContent = 'This browser cannot run WebAssembly, which the player needs.';
    ui.file.disabled = true;
  }

  // ---- Test and benchmark hook -----------------------------------------------------------

  // Only with ?test in the address: what the player handed to Web Audio, frame by frame, is
  // kept so that a test can compare it with the decoded sound.
  if (!testing) return;
  const engine = player[Symbol.for('zambrel-player.test')];
  engine.recordSound = true;
  window.zambrelTest = {
    ready: () => Promise.resolve(typeof customElements.get('zambrel-player') === 'function'),
    state: () => {
      const movie = engine.movie;
      return movie ? { shown: movie.shown, playing: movie.playing, ended: movie.ended,
                       frameCount: movie.info.frameCount, width: movie.info.width,
                       height: movie.info.height, tracks: movie.soundTracks.slice(),
                       partialFrames: movie.partialFrames }
                   : null;
    },
    message: () => ui.message.textContent,
    notes: () => ui.notes.textContent,
    pause: () => player.pause(),
    // A page stalled past a quarter of a second (a loaded test machine) gives up the sound
    // of the frames it skips; a test that compares every sample catches up frame by frame.
    catchUpEveryFrame: () => { engine.lateSeconds = Infinity; },
    // Every sample of `track`'s channel `channel` handed out so far, as little-endian
    // float32 bytes in base64.
    handedSound: (track, channel) => {
      const parts = engine.movie.handed[track].map((part) => part.channels[channel]);
      const total = parts.reduce((sum, part) => sum + part.length, 0);
      const all = new Float32Array(total);
      let at = 0;
      for (const part of parts) { all.set(part, at); at += part.length; }
      return base64(new Uint8Array(all.buffer));
    },
  };

  function base64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }
})();
