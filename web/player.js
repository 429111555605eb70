// The player page (web/player.html): XM and MOD files played through the public C library
// (include/brom/brom.h), built as WebAssembly (brom-player.js and .wasm; web/CMakeLists.txt).
// A playlist of the files chosen or dropped (or named by ?song=) plays one after the other; the
// keys are brom-play's, where a page can have them; volume (the gain), loop and stereo separation
// stay as set for the files that follow, as the muted channels do.
//
// Playback pulls frames: the page renders them with brom_render_s16 at the AudioContext's own
// rate (brom_set_sample_rate) a few milliseconds at a time and queues them for the sound
// (player-audio.js: an AudioWorklet where the page is served securely, else a ScriptProcessor).
// The queue is kept short (AHEAD_SECONDS) so that a mute is heard within some 50 ms, the engine
// mixing 1/50 s ahead of what it hands out; a seek or a jump to another order drops the queue and
// starts a new run of frames from the new place at once. Where the page cannot keep up (the sound
// ran dry: a busy machine), the queue grows, up to MOST_AHEAD_SECONDS; a control that changes the
// sound then starts a new run from what is heard, so that it is still heard at once.
//
// What the page shows is what is being heard: each rendered step leaves a mark (the library's
// position and channel levels after it) at the frame where it ends, and the sound reports the
// frames of the run it has played.
//
// "Save as WAV" renders the whole song anew at 44100 Hz on a module of its own, a slice at a time
// so that the page stays alive, into the same file `brom-play --render` writes.
"use strict";
(function () {
  const STEP_FRAMES = 256; // rendered at a time while playing
  const AHEAD_SECONDS = 0.03; // queued for the worklet
  const MOST_AHEAD_SECONDS = 0.15; // after dropouts, at most
  const SCRIPT_FRAMES = 1024; // the ScriptProcessor's buffer, queued just before it plays
  const WAV_RATE = 44100;
  const WAV_STEP_FRAMES = 16384;
  const WAV_SLICE_MS = 25; // rendering before the page gets a turn
  const SEEK_STEP_MS = 10000; // the up and down keys
  const FADE_MS = 10000; // "Fade out": the fade where the song ends
  const BROM_END_STOP = 0; // brom_end, checked by web/player_abi.c
  const BROM_END_FADE = 2;
  const BROM_FORMAT_MOD = 2; // brom_format, also checked there
  const METER_FLOOR_DB = -48; // an empty meter; full scale fills it

  const params = new URLSearchParams(location.search);
  const $ = (id) => document.getElementById(id);
  let M = null; // the WebAssembly module: the brom_ functions as M._brom_...
  let scratch = 0; // 64 bytes of its memory for the records the library fills
  let stepBuffer = 0;
  let views = null; // the scopes and the pattern view (player-views.js)

  // ---- The library, seen from JavaScript ----

  // The library's strings, byte for byte (the file's own bytes, at most 255).
  function text(pointer) {
    if (!pointer) return "";
    const bytes = M.HEAPU8;
    let end = pointer;
    while (bytes[end]) ++end;
    return String.fromCharCode.apply(null, bytes.subarray(pointer, end));
  }

  function openSong(bytes) {
    const data = M._malloc(Math.max(bytes.length, 1));
    if (!data) throw new Error("out of memory");
    M.HEAPU8.set(bytes, data);
    M.HEAPU32[(scratch + 4) >> 2] = 0;
    const handle = M._brom_load_memory_ex(data, bytes.length, scratch, scratch + 4);
    M._free(data);
    if (handle) return handle;
    const code = M.HEAP32[scratch >> 2];
    throw new Error(text(M.HEAPU32[(scratch + 4) >> 2]) || text(M._brom_error_string(code)));
  }

  // brom_get_position; the offsets are checked by web/player_abi.c.
  function libraryPosition(handle) {
    M._brom_get_position(handle, scratch);
    const words = M.HEAP32;
    const at = scratch >> 2;
    return {
      timeMs: (words[at] >>> 0) + words[at + 1] * 4294967296,
      order: words[at + 2],
      pattern: words[at + 3],
      row: words[at + 4],
    };
  }

  // Each channel's measured peak over the last block, left and right (1.0 full scale).
  function channelPeaks(handle, channels) {
    const peaks = [];
    for (let c = 0; c < channels; ++c) {
      M._brom_channel_peak(handle, c, scratch + 32, scratch + 36);
      peaks.push([M.HEAPF32[(scratch + 32) >> 2], M.HEAPF32[(scratch + 36) >> 2]]);
    }
    return peaks;
  }

  function songInfo(handle) {
    M._brom_get_song_info(handle, scratch);
    const instruments = [];
    for (let i = 0; i < M._brom_instrument_count(handle); ++i)
      instruments.push(text(M._brom_instrument_name(handle, i)));
    return {
      title: text(M._brom_title(handle)),
      format: text(M._brom_format_name(M._brom_format(handle))),
      tracker: text(M._brom_tracker(handle)),
      channels: M._brom_channel_count(handle),
      songLength: M.HEAP32[(scratch + 4) >> 2],
      instruments: instruments,
      durationMs: Number(M._brom_duration_ms(handle)),
      songs: subsongTimes(handle),
    };
  }

  // Each subsong's duration in milliseconds (brom_subsong: duration_ms at 8, checked by
  // web/player_abi.c).
  function subsongTimes(handle) {
    const times = [];
    for (let k = 0; k < M._brom_subsong_count(handle); ++k) {
      M._brom_get_subsong(handle, k, scratch);
      times.push((M.HEAP32[(scratch + 8) >> 2] >>> 0) + M.HEAP32[(scratch + 12) >> 2] * 4294967296);
    }
    return times;
  }

  // ---- The sound ----

  const audio = {
    context: null,
    worklet: false,
    ahead: 0, // frames to keep queued
    replace: null, // (generation, samples): a new run
    append: null, // (generation, samples)
    gaps: 0, // dropouts heard (web/player-audio.js)
  };

  function workletSink() {
    const node = new AudioWorkletNode(audio.context, "brom-player-queue", {
      numberOfInputs: 0,
      numberOfOutputs: 1,
      outputChannelCount: [2],
    });
    node.port.onmessage = (event) => {
      if (event.data.gaps > audio.gaps) deepen();
      audio.gaps = event.data.gaps;
      played(event.data.generation, event.data.frames);
      topUp();
    };
    node.connect(audio.context.destination);
    audio.worklet = true;
    audio.ahead = Math.ceil(AHEAD_SECONDS * audio.context.sampleRate);
    audio.replace = (generation, samples) =>
      node.port.postMessage({ kind: "replace", generation, samples }, [samples.buffer]);
    audio.append = (generation, samples) =>
      node.port.postMessage({ kind: "append", generation, samples }, [samples.buffer]);
  }

  // The sound ran dry: the queue grows by its first length, up to MOST_AHEAD_SECONDS.
  function deepen() {
    const most = Math.ceil(MOST_AHEAD_SECONDS * audio.context.sampleRate);
    audio.ahead = Math.min(audio.ahead + Math.ceil(AHEAD_SECONDS * audio.context.sampleRate), most);
  }

  // On the page's thread: each callback tops the queue up to its own length, then plays it.
  function scriptSink() {
    const queue = new BromFrameQueue();
    const node = audio.context.createScriptProcessor(SCRIPT_FRAMES, 0, 2);
    node.onaudioprocess = (event) => {
      topUp();
      queue.fill(event.outputBuffer.getChannelData(0), event.outputBuffer.getChannelData(1));
      audio.gaps = queue.gaps;
      played(queue.generation, queue.played);
    };
    node.connect(audio.context.destination);
    audio.worklet = false;
    audio.ahead = SCRIPT_FRAMES;
    audio.replace = (generation, samples) => queue.replace(generation, samples);
    audio.append = (generation, samples) => queue.append(generation, samples);
  }

  // At the device's own rate when the library can render at it; silent until Play (browsers start
  // sound only after a click or key anyway).
  async function openAudio() {
    audio.context = new AudioContext({ latencyHint: "interactive" });
    const rate = audio.context.sampleRate;
    if (rate < 8000 || rate > 192000) {
      audio.context.close();
      audio.context = new AudioContext({ latencyHint: "interactive", sampleRate: 48000 });
    }
    audio.context.suspend();
    const useWorklet =
      window.isSecureContext && audio.context.audioWorklet && params.get("audio") !== "script";
    if (!useWorklet) return scriptSink();
    try {
      await audio.context.audioWorklet.addModule("player-audio.js");
      workletSink();
    } catch (error) {
      console.warn("brom: no audio worklet (" + error + "); playing through a ScriptProcessor");
      scriptSink();
    }
  }

  // ---- Playing ----

  const player = {
    handle: 0,
    bytes: null, // the file, for Save as WAV
    name: "",
    info: null,
    playing: false,
    loading: 1, // loads under way: the player itself first
    // The playlist: {name, open()} each, open() a Promise of the file's bytes; `index` plays.
    list: [],
    index: -1,
    // What stays for the files that follow.
    gainDb: 0,
    loop: false,
    fade: false, // where the song ends, it fades out over FADE_MS
    song: -1, // the subsong chosen, -1 the whole order list
    stereo: 100,
    interpolation: 1, // BROM_INTERP_LINEAR
    amiga: 0,
    muted: new Set(), // channels from 0
    // The run of frames under way: its number, frames rendered and played, where it began.
    generation: 0,
    sent: 0,
    played: 0,
    startMs: 0,
    ended: false, // the library has rendered the song's last frame
    marks: [], // {frame, order, pattern, row, timeMs, peaks, views}, the first the one heard
  };

  function mark(frame) {
    const at = libraryPosition(player.handle);
    at.frame = frame;
    at.peaks = channelPeaks(player.handle, player.info.channels);
    at.views = views.capture(player.handle, player.info.channels, frame);
    return at;
  }

  function renderStep() {
    const got = M._brom_render_s16(player.handle, stepBuffer, STEP_FRAMES);
    const first = stepBuffer >> 1;
    const samples = M.HEAP16.slice(first, first + 2 * got);
    player.sent += got;
    if (got < STEP_FRAMES) player.ended = true;
    player.marks.push(mark(player.sent));
    return samples;
  }

  // Renders until `frames` are queued beyond what was played; null when nothing was rendered.
  function renderAhead(frames) {
    const steps = [];
    while (!player.ended && player.sent - player.played < frames) steps.push(renderStep());
    if (steps.length === 0) return null;
    const samples = new Int16Array(steps.reduce((sum, step) => sum + step.length, 0));
    steps.reduce((at, step) => (samples.set(step, at), at + step.length), 0);
    return samples;
  }

  function topUp() {
    if (!player.handle || !player.playing) return;
    const samples = renderAhead(audio.ahead);
    if (samples) audio.append(player.generation, samples);
    finishIfDone();
  }

  // Drops what is queued and goes on from where the library now is.
  function startRun() {
    player.generation += 1;
    player.sent = 0;
    player.played = 0;
    player.ended = false;
    player.marks = [mark(0)];
    player.startMs = player.marks[0].timeMs;
    audio.replace(player.generation, renderAhead(audio.ahead) || new Int16Array(0));
    finishIfDone();
  }

  function played(generation, frames) {
    if (generation !== player.generation) return;
    player.played = frames;
    const marks = player.marks;
    while (marks.length > 1 && marks[1].frame <= frames) marks.shift();
    finishIfDone();
  }

  // The song's last frame has been heard.
  function atEnd() {
    return player.ended && player.played >= player.sent;
  }

  // At the end of a song the next in the playlist starts; after the last, the player stops.
  function finishIfDone() {
    if (!player.playing || !atEnd()) return;
    if (player.index + 1 < player.list.length && !player.loading) {
      playEntry(player.index + 1).catch(() => null);
    } else if (!player.loading) {
      pause();
    }
  }

  function play() {
    if (!player.handle) return Promise.reject(new Error("no song loaded"));
    if (atEnd()) seek(0);
    player.playing = true;
    topUp();
    return audio.context.resume();
  }

  function pause() {
    player.playing = false;
    return audio.context.suspend();
  }

  function seek(ms) {
    if (!player.handle) return;
    M._brom_seek_ms(player.handle, BigInt(Math.max(0, Math.round(ms))));
    startRun();
  }

  // To the start of the order `step` away, as brom-play's arrows go: a seek to the time where one
  // pass first reaches it, so that the clock stays true (an order the pass never plays is jumped
  // to). Past the last order, the next file.
  function jumpOrder(step) {
    if (!player.handle) return;
    const order = Math.max(heard().order + step, 0);
    if (order >= player.info.songLength) {
      if (player.index + 1 < player.list.length) playEntry(player.index + 1).catch(() => null);
      return;
    }
    const ms = Number(M._brom_order_time_ms(player.handle, order));
    if (ms >= 0) seek(ms);
    else if (M._brom_seek_order_row(player.handle, order, 0)) startRun();
  }

  // A change of the sound, made with the queue grown deep: heard from a new run at what is heard
  // now instead of after the queue.
  function soundChanged() {
    const deep = audio.ahead > 1.5 * AHEAD_SECONDS * audio.context.sampleRate;
    if (audio.worklet && player.playing && deep) seek(heard().timeMs);
  }

  function setMute(channel, muted) {
    if (muted) player.muted.add(channel);
    else player.muted.delete(channel);
    if (player.handle) M._brom_set_channel_mute(player.handle, channel, muted ? 1 : 0);
    soundChanged();
    const box = $("channels").querySelectorAll("input")[channel];
    if (box) box.checked = !muted;
  }

  function setGain(db) {
    player.gainDb = Math.min(Math.max(Math.round(db), -30), 12);
    if (player.handle) M._brom_set_gain_db(player.handle, player.gainDb);
    soundChanged();
    $("gain").value = player.gainDb;
    $("gain-shown").textContent = (player.gainDb > 0 ? "+" : "") + player.gainDb + " dB";
  }

  // Looping: the song repeats without end, or ends where it next comes round.
  function setLoop(loop) {
    player.loop = loop;
    if (player.handle) M._brom_set_repeat_count(player.handle, loop ? -1 : 0);
    $("loop").checked = loop;
  }

  // Where the song ends (and does not loop): it stops, or fades out over FADE_MS.
  function setFade(fade) {
    player.fade = fade;
    if (player.handle) M._brom_set_end(player.handle, fade ? BROM_END_FADE : BROM_END_STOP, FADE_MS);
    $("fade").checked = fade;
  }

  // Plays subsong `song` (-1: the whole order list) from its start; past the last, the next file.
  function setSong(song) {
    if (!player.handle) return;
    const songs = player.info.songs.length;
    if (song >= songs && player.index + 1 < player.list.length) {
      playEntry(player.index + 1).catch(() => null);
      return;
    }
    player.song = Math.min(Math.max(song, songs > 1 ? 0 : -1), songs - 1);
    M._brom_select_subsong(player.handle, player.song);
    player.info.durationMs = Number(M._brom_duration_ms(player.handle));
    $("subsong").value = player.song;
    $("duration").textContent = clock(player.info.durationMs);
    $("seek").max = player.info.durationMs;
    startRun();
  }

  // The subsong playing: the one chosen, or the one whose order is heard.
  function songNow() {
    if (player.song >= 0) return player.song;
    return Math.max(M._brom_order_subsong(player.handle, heard().order), 0);
  }

  function setStereo(percent) {
    player.stereo = Math.min(Math.max(Math.round(percent), 0), 200);
    if (player.handle) M._brom_set_stereo_separation(player.handle, player.stereo);
    soundChanged();
    $("stereo").value = player.stereo;
    $("stereo-shown").textContent = player.stereo + "%";
  }

  // Resampling and the Amiga's sound: heard from the next block on. The Amiga's sound is for MOD
  // files only; for the others its choice is shown but greyed.
  function setInterpolation(mode) {
    player.interpolation = mode;
    if (player.handle) M._brom_set_interpolation(player.handle, mode);
    soundChanged();
    $("interpolation").value = String(mode);
  }

  function setAmiga(model) {
    player.amiga = model;
    if (player.handle) {
      const mod = M._brom_format(player.handle) === BROM_FORMAT_MOD;
      if (mod) M._brom_set_amiga(player.handle, model);
      $("amiga").disabled = !mod;
      $("interpolation").disabled = mod && model !== 0;
    }
    $("amiga").value = String(model);
  }

  // What is being heard now.
  function heard() {
    if (!player.handle) return { order: 0, pattern: 0, row: 0, timeMs: 0, peaks: [] };
    const at = Object.assign({}, player.marks[0]);
    at.timeMs = player.startMs + Math.floor((player.played * 1000) / audio.context.sampleRate);
    if (!player.playing) at.peaks = at.peaks.map(() => [0, 0]);
    return at;
  }

  async function fetchSong(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error(response.status + " " + response.statusText);
    return new Uint8Array(await response.arrayBuffer());
  }

  // The ways of playing chosen on the page (profile, resampling, the Amiga's sound), for a song
  // just opened: the one heard and the one saved as WAV.
  function setPlaying(handle) {
    // The profile's name, as a C string after the first 32 bytes of scratch.
    const profile = $("profile").value;
    for (let k = 0; k <= profile.length; ++k) {
      M.HEAPU8[scratch + 32 + k] = profile.charCodeAt(k) || 0;
    }
    M._brom_set_profile(handle, scratch + 32);
    M._brom_set_interpolation(handle, player.interpolation);
    if (M._brom_format(handle) === BROM_FORMAT_MOD) M._brom_set_amiga(handle, player.amiga);
  }

  function loadBytes(bytes, name) {
    const handle = openSong(bytes);
    if (player.handle) M._brom_free(player.handle);
    player.handle = handle;
    player.bytes = bytes;
    player.name = name;
    M._brom_set_sample_rate(handle, audio.context.sampleRate);
    setPlaying(handle);
    M._brom_set_gain_db(handle, player.gainDb);
    M._brom_set_repeat_count(handle, player.loop ? -1 : 0);
    M._brom_set_end(handle, player.fade ? BROM_END_FADE : BROM_END_STOP, FADE_MS);
    M._brom_set_stereo_separation(handle, player.stereo);
    setAmiga(player.amiga);
    player.info = songInfo(handle);
    player.song = -1;
    player.muted.forEach((c) => M._brom_set_channel_mute(handle, c, 1));
    views.prepare(handle);
    showSong();
    startRun();
    return player.info;
  }

  // "Loading NAME..." while a file is fetched and read.
  function loading(name, more) {
    player.loading += more;
    document.body.classList.toggle("loading", player.loading > 0);
    if (name) $("loading").textContent = "Loading " + name.replace(/^.*\//, "") + "\u2026";
  }

  // Plays entry `index` of the playlist (loads it, and goes on playing if the player was).
  async function playEntry(index) {
    const entry = player.list[index];
    if (!entry) throw new Error("no file " + (index + 1) + " in the playlist");
    const wasPlaying = player.playing;
    player.index = index;
    showPlaylist();
    loading(entry.name, 1);
    try {
      const info = loadBytes(await entry.open(), entry.name);
      status("");
      if (wasPlaying) await play();
      return info;
    } catch (error) {
      status(entry.name + ": " + error.message);
      throw error;
    } finally {
      loading("", -1);
    }
  }

  // A new playlist; its first entry loads.
  function setPlaylist(entries) {
    player.list = entries;
    return playEntry(0);
  }

  const urlEntry = (url) => ({ name: url, open: () => fetchSong(url) });
  const fileEntry = (file) => ({
    name: file.name,
    open: () => file.arrayBuffer().then((buffer) => new Uint8Array(buffer)),
  });

  function load(url) {
    return setPlaylist([urlEntry(url)]);
  }

  function stepFile(step) {
    const index = player.index + step;
    if (index >= 0 && index < player.list.length) playEntry(index).catch(() => null);
  }

  // ---- Save as WAV ----

  // The 44-byte header of a 16-bit stereo PCM file at 44100 Hz, as brom-play writes it.
  function wavHeader(dataBytes) {
    const header = new DataView(new ArrayBuffer(44));
    const ascii = (at, word) => [...word].forEach((c, i) => header.setUint8(at + i, c.charCodeAt(0)));
    ascii(0, "RIFF");
    header.setUint32(4, 36 + dataBytes, true);
    ascii(8, "WAVEfmt ");
    header.setUint32(16, 16, true); // size of the format record
    header.setUint16(20, 1, true); // PCM
    header.setUint16(22, 2, true); // stereo
    header.setUint32(24, WAV_RATE, true);
    header.setUint32(28, WAV_RATE * 4, true); // bytes per second
    header.setUint16(32, 4, true); // bytes per frame
    header.setUint16(34, 16, true); // bits per sample
    ascii(36, "data");
    header.setUint32(40, dataBytes, true);
    return new Uint8Array(header.buffer);
  }

  // A turn for the page between slices, without the clamping of nested timers.
  function nextTurn() {
    return new Promise((resolve) => {
      const channel = new MessageChannel();
      channel.port1.onmessage = () => resolve();
      channel.port2.postMessage(0);
    });
  }

  // The whole song at 44100 Hz as a WAV file: a Uint8Array. `progress(fraction)` as it goes.
  async function renderWav(bytes, progress) {
    if (!bytes) throw new Error("no song loaded");
    const handle = openSong(bytes);
    setPlaying(handle);
    const buffer = M._malloc(WAV_STEP_FRAMES * 4);
    try {
      if (!buffer) throw new Error("out of memory");
      const expected = Math.max(1, (Number(M._brom_duration_ms(handle)) * WAV_RATE) / 1000);
      const pieces = [];
      let frames = 0;
      for (let got = WAV_STEP_FRAMES; got === WAV_STEP_FRAMES; ) {
        const sliceEnd = performance.now() + WAV_SLICE_MS;
        while (got === WAV_STEP_FRAMES && performance.now() < sliceEnd) {
          got = M._brom_render_s16(handle, buffer, WAV_STEP_FRAMES);
          pieces.push(M.HEAPU8.slice(buffer, buffer + 4 * got));
          frames += got;
        }
        if (progress) progress(Math.min(frames / expected, 1));
        await nextTurn();
      }
      const wav = new Uint8Array(44 + 4 * frames);
      wav.set(wavHeader(4 * frames));
      pieces.reduce((at, piece) => (wav.set(piece, at), at + piece.length), 44);
      return wav;
    } finally {
      M._free(buffer);
      M._brom_free(handle);
    }
  }

  async function saveWav() {
    const button = $("save");
    button.disabled = true;
    try {
      const wav = await renderWav(player.bytes, (done) =>
        status("Rendering " + Math.floor(done * 100) + "%"),
      );
      const link = document.createElement("a");
      link.href = URL.createObjectURL(new Blob([wav], { type: "audio/wav" }));
      link.download = player.name.replace(/^.*\//, "").replace(/\.[^.]*$/, "") + ".wav";
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 60000);
      status("");
    } catch (error) {
      status("Save as WAV: " + error.message);
    } finally {
      button.disabled = false;
    }
  }

  // ---- The page ----

  function status(message) {
    $("status").textContent = message;
  }

  function clock(ms) {
    const seconds = Math.floor(ms / 1000);
    return Math.floor(seconds / 60) + ":" + String(seconds % 60).padStart(2, "0");
  }

  function showPlaylist() {
    $("playlist").replaceChildren(
      ...player.list.map((entry, index) => {
        const item = document.createElement("li");
        item.textContent = entry.name.replace(/^.*\//, "");
        item.className = index === player.index ? "current" : "";
        item.onclick = () => playEntry(index).catch(() => null);
        return item;
      }),
    );
    document.body.classList.toggle("several", player.list.length > 1);
  }

  function showSong() {
    const info = player.info;
    $("title").textContent = info.title || player.name.replace(/^.*\//, "");
    $("tracker").textContent = info.format + " \u00b7 " + info.tracker;
    $("duration").textContent = clock(info.durationMs);
    $("seek").max = info.durationMs;
    const song = $("subsong");
    song.hidden = info.songs.length < 2;
    song.replaceChildren(
      ...[-1, ...info.songs.keys()].map((k) => {
        const option = document.createElement("option");
        option.value = k;
        option.textContent = k < 0 ? "All songs" : "Song " + (k + 1) + " (" + clock(info.songs[k]) + ")";
        return option;
      }),
    );
    song.value = -1;
    const instruments = $("instruments");
    instruments.replaceChildren(
      ...info.instruments.map((name) => {
        const item = document.createElement("li");
        item.textContent = name;
        return item;
      }),
    );
    const channels = $("channels");
    channels.replaceChildren();
    for (let c = 0; c < info.channels; ++c) {
      const channel = document.createElement("label");
      channel.className = "channel";
      const on = document.createElement("input");
      on.type = "checkbox";
      on.checked = !player.muted.has(c);
      on.title = "Channel " + (c + 1) + " on or muted";
      on.onchange = () => setMute(c, !on.checked);
      const number = document.createElement("span");
      number.className = "number";
      number.textContent = c + 1;
      const meters = document.createElement("span");
      meters.className = "meters";
      meters.append(document.createElement("span"), document.createElement("span"));
      channel.append(on, number, meters);
      channels.appendChild(channel);
    }
    views.showSong(channels.children);
    document.body.classList.add("loaded");
  }

  let seeking = false; // the seek bar is being dragged
  function showPosition() {
    requestAnimationFrame(showPosition);
    if (!player.handle) return;
    const at = heard();
    $("order").textContent = at.order + " / " + player.info.songLength;
    $("pattern").textContent = at.pattern;
    $("row").textContent = at.row;
    if (!seeking) {
      $("time").textContent = clock(at.timeMs);
      $("seek").value = at.timeMs;
    }
    $("play").textContent = player.playing ? "Pause" : "Play";
    // Decibels: full scale fills a meter, METER_FLOOR_DB and below leave it empty.
    const fill = (peak) =>
      peak > 0 ? Math.max(0, Math.min(1, 1 - (20 * Math.log10(peak)) / METER_FLOOR_DB)) : 0;
    $("channels")
      .querySelectorAll(".meters")
      .forEach((meters, c) => {
        const peak = at.peaks[c] || [0, 0];
        meters.children[0].style.width = fill(peak[0]) * 100 + "%";
        meters.children[1].style.width = fill(peak[1]) * 100 + "%";
      });
    views.show(player.handle, player.info.channels, at);
  }

  function togglePlay() {
    if (player.playing) pause();
    else play().catch((error) => status(error.message));
  }

  function loadFiles(files) {
    if (files.length) setPlaylist(Array.from(files, fileEntry)).catch(() => null);
  }

  function seekBy(ms) {
    if (player.handle) seek(Math.max(heard().timeMs + ms, 0));
  }

  // brom-play's keys, where a page can have them (a page has nothing to quit to).
  const KEYS = {
    " ": togglePlay,
    ArrowLeft: () => jumpOrder(-1),
    ArrowRight: () => jumpOrder(1),
    ArrowUp: () => seekBy(-SEEK_STEP_MS),
    ArrowDown: () => seekBy(SEEK_STEP_MS),
    "+": () => setGain(player.gainDb + 1),
    "=": () => setGain(player.gainDb + 1),
    "-": () => setGain(player.gainDb - 1),
    _: () => setGain(player.gainDb - 1),
    "!": () => [...player.muted].forEach((c) => setMute(c, false)),
    l: () => setLoop(!player.loop),
    ">": () => setSong(songNow() + 1),
    ".": () => setSong(songNow() + 1),
    "<": () => setSong(songNow() - 1),
    ",": () => setSong(songNow() - 1),
    n: () => stepFile(1),
    p: () => stepFile(-1),
    h: () => document.body.classList.toggle("keys"),
    "?": () => document.body.classList.toggle("keys"),
    Escape: () => document.body.classList.remove("keys"),
  };

  function onKey(event) {
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    // A focused control takes space and the arrows itself.
    const focused = ["INPUT", "BUTTON"].includes(event.target.tagName);
    if (focused && (event.key === " " || event.key.startsWith("Arrow"))) return;
    const key = event.key.length === 1 ? event.key.toLowerCase() : event.key;
    const digit = "1234567890".indexOf(key);
    if (digit >= 0 && player.info && digit < player.info.channels) {
      setMute(digit, !player.muted.has(digit));
    } else if (KEYS[key] && (player.handle || key === "h" || key === "?")) {
      KEYS[key]();
    } else {
      return;
    }
    event.preventDefault();
  }

  function wireControls() {
    $("play").onclick = togglePlay;
    $("previous").onclick = () => jumpOrder(-1);
    $("next").onclick = () => jumpOrder(1);
    $("previous-file").onclick = () => stepFile(-1);
    $("next-file").onclick = () => stepFile(1);
    $("save").onclick = saveWav;
    $("gain").oninput = () => setGain(Number($("gain").value));
    $("stereo").oninput = () => setStereo(Number($("stereo").value));
    // A profile plays from the start of a render: the song is read again and goes on from here.
    $("profile").onchange = () => {
      if (!player.bytes) return;
      const at = heard().timeMs;
      loadBytes(player.bytes, player.name);
      seek(at);
    };
    $("interpolation").onchange = () => setInterpolation(Number($("interpolation").value));
    $("amiga").onchange = () => {
      setAmiga(Number($("amiga").value));
      soundChanged();
    };
    $("loop").onchange = () => setLoop($("loop").checked);
    $("fade").onchange = () => setFade($("fade").checked);
    $("subsong").onchange = () => setSong(Number($("subsong").value));
    $("show-keys").onclick = (event) => {
      event.preventDefault();
      document.body.classList.toggle("keys");
    };
    const bar = $("seek");
    bar.oninput = () => {
      seeking = true;
      $("time").textContent = clock(Number(bar.value));
    };
    bar.onchange = () => {
      seeking = false;
      seek(Number(bar.value));
    };
    $("file").onchange = (event) => loadFiles(event.target.files);
    window.addEventListener("dragover", (event) => {
      event.preventDefault();
      document.body.classList.add("dropping");
    });
    window.addEventListener("dragleave", () => document.body.classList.remove("dropping"));
    window.addEventListener("drop", (event) => {
      event.preventDefault();
      document.body.classList.remove("dropping");
      loadFiles(event.dataTransfer.files);
    });
    window.addEventListener("keydown", onKey);
  }

  async function start() {
    M = await createBromPlayer();
    scratch = M._malloc(64);
    stepBuffer = M._malloc(STEP_FRAMES * 4);
    views = BromViews.create(M);
    await openAudio();
    wireControls();
    requestAnimationFrame(showPosition);
    loading("", -1); // the player itself has loaded
    const songs = params.getAll("song");
    await setPlaylist((songs.length ? songs : ["brom-boogie.xm"]).map(urlEntry)).catch(() => null);
    return {
      position: () => {
        const at = heard();
        return { order: at.order, row: at.row, timeMs: at.timeMs };
      },
      audioState: () => audio.context.state,
      audioPath: () => (audio.worklet ? "worklet" : "script"),
      audioGaps: () => audio.gaps,
      load: load,
      loadList: (urls) => setPlaylist(urls.map(urlEntry)),
      state: () => ({
        file: player.index,
        files: player.list.length,
        gainDb: player.gainDb,
        loop: player.loop,
        fade: player.fade,
        song: player.song,
        stereo: player.stereo,
        interpolation: player.interpolation,
        amiga: $("amiga").disabled ? null : player.amiga,
        muted: [...player.muted].sort((a, b) => a - b),
        loading: player.loading > 0,
      }),
      orderTimeMs: (order) => (player.handle ? Number(M._brom_order_time_ms(player.handle, order)) : -1),
      seek: (ms) => seek(ms),
      play: play,
      pause: pause,
      renderWav: (url) => (url ? fetchSong(url) : Promise.resolve(player.bytes)).then(renderWav),
    };
  }

  window.bromReady = start();
  window.bromReady.catch((error) => status("The player cannot start: " + error.message));
})();
