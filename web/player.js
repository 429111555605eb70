// The player page (web/player.html): an XM file played through the public C library
// (include/brom/brom.h), built as WebAssembly (brom-player.js and .wasm; web/CMakeLists.txt).
//
// Playback pulls frames: the page renders them with brom_render_s16 at the AudioContext's own
// rate (brom_set_sample_rate) a few milliseconds at a time and queues them for the sound
// (player-audio.js: an AudioWorklet where the page is served securely, else a ScriptProcessor).
// The queue is kept short (AHEAD_SECONDS) so that a mute is heard within some 50 ms, the engine
// mixing 1/50 s ahead of what it hands out; a seek or a jump to another order drops the queue and
// starts a new run of frames from the new place at once.
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
  const SCRIPT_FRAMES = 1024; // the ScriptProcessor's buffer, queued just before it plays
  const WAV_RATE = 44100;
  const WAV_STEP_FRAMES = 16384;
  const WAV_SLICE_MS = 25; // rendering before the page gets a turn

  const params = new URLSearchParams(location.search);
  const $ = (id) => document.getElementById(id);
  let M = null; // the WebAssembly module: the brom_ functions as M._brom_...
  let scratch = 0; // 64 bytes of its memory for the records the library fills
  let stepBuffer = 0;

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

  function songInfo(handle) {
    M._brom_get_song_info(handle, scratch);
    const instruments = [];
    for (let i = 0; i < M._brom_instrument_count(handle); ++i)
      instruments.push(text(M._brom_instrument_name(handle, i)));
    return {
      title: text(M._brom_title(handle)),
      tracker: text(M._brom_tracker(handle)),
      channels: M._brom_channel_count(handle),
      songLength: M.HEAP32[(scratch + 4) >> 2],
      instruments: instruments,
      durationMs: Number(M._brom_duration_ms(handle)),
    };
  }

  // ---- The sound ----

  const audio = {
    context: null,
    worklet: false,
    ahead: 0, // frames to keep queued
    replace: null, // (generation, samples): a new run
    append: null, // (generation, samples)
  };

  function workletSink() {
    const node = new AudioWorkletNode(audio.context, "brom-player-queue", {
      numberOfInputs: 0,
      numberOfOutputs: 1,
      outputChannelCount: [2],
    });
    node.port.onmessage = (event) => {
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

  // On the page's thread: each callback tops the queue up to its own length, then plays it.
  function scriptSink() {
    const queue = new BromFrameQueue();
    const node = audio.context.createScriptProcessor(SCRIPT_FRAMES, 0, 2);
    node.onaudioprocess = (event) => {
      topUp();
      queue.fill(event.outputBuffer.getChannelData(0), event.outputBuffer.getChannelData(1));
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
    // The run of frames under way: its number, frames rendered and played, where it began.
    generation: 0,
    sent: 0,
    played: 0,
    startMs: 0,
    ended: false, // the library has rendered the song's last frame
    marks: [], // {frame, order, pattern, row, timeMs, levels}, the first the one being heard
  };

  function mark(frame) {
    const at = libraryPosition(player.handle);
    at.frame = frame;
    at.levels = [];
    for (let c = 0; c < player.info.channels; ++c)
      at.levels.push(M._brom_channel_level(player.handle, c));
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

  function finishIfDone() {
    if (player.playing && atEnd()) pause();
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

  function jumpOrder(step) {
    if (!player.handle) return;
    const order = Math.min(Math.max(heard().order + step, 0), player.info.songLength - 1);
    if (M._brom_seek_order_row(player.handle, order, 0)) startRun();
  }

  function setMute(channel, muted) {
    M._brom_set_channel_mute(player.handle, channel, muted ? 1 : 0);
  }

  // What is being heard now.
  function heard() {
    if (!player.handle) return { order: 0, pattern: 0, row: 0, timeMs: 0, levels: [] };
    const at = Object.assign({}, player.marks[0]);
    at.timeMs = player.startMs + Math.floor((player.played * 1000) / audio.context.sampleRate);
    if (!player.playing) at.levels = at.levels.map(() => 0);
    return at;
  }

  async function fetchSong(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error(response.status + " " + response.statusText);
    return new Uint8Array(await response.arrayBuffer());
  }

  function loadBytes(bytes, name) {
    const handle = openSong(bytes);
    if (player.handle) M._brom_free(player.handle);
    player.handle = handle;
    player.bytes = bytes;
    player.name = name;
    M._brom_set_sample_rate(handle, audio.context.sampleRate);
    player.info = songInfo(handle);
    showSong();
    startRun();
    return player.info;
  }

  async function load(url) {
    try {
      const info = loadBytes(await fetchSong(url), url);
      status("");
      return info;
    } catch (error) {
      status(url + ": " + error.message);
      throw error;
    }
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

  function showSong() {
    const info = player.info;
    $("title").textContent = info.title || player.name.replace(/^.*\//, "");
    $("tracker").textContent = info.tracker;
    $("duration").textContent = clock(info.durationMs);
    $("seek").max = info.durationMs;
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
      on.checked = true;
      on.title = "Channel " + (c + 1) + " on or muted";
      on.onchange = () => setMute(c, !on.checked);
      const meter = document.createElement("span");
      meter.className = "meter";
      meter.appendChild(document.createElement("span"));
      channel.append(on, String(c + 1), meter);
      channels.appendChild(channel);
    }
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
    // The square root of the level, so that quiet notes show; nothing for a muted channel.
    $("channels")
      .querySelectorAll(".channel")
      .forEach((channel, c) => {
        const level = channel.firstChild.checked ? at.levels[c] || 0 : 0;
        channel.querySelector(".meter > span").style.width = Math.sqrt(level / 255) * 100 + "%";
      });
  }

  function togglePlay() {
    if (player.playing) pause();
    else play().catch((error) => status(error.message));
  }

  function loadFile(file) {
    file
      .arrayBuffer()
      .then((buffer) => {
        loadBytes(new Uint8Array(buffer), file.name);
        status("");
      })
      .catch((error) => status(file.name + ": " + error.message));
  }

  function wireControls() {
    $("play").onclick = togglePlay;
    $("previous").onclick = () => jumpOrder(-1);
    $("next").onclick = () => jumpOrder(1);
    $("save").onclick = saveWav;
    const bar = $("seek");
    bar.oninput = () => {
      seeking = true;
      $("time").textContent = clock(Number(bar.value));
    };
    bar.onchange = () => {
      seeking = false;
      seek(Number(bar.value));
    };
    $("file").onchange = (event) => event.target.files[0] && loadFile(event.target.files[0]);
    window.addEventListener("dragover", (event) => {
      event.preventDefault();
      document.body.classList.add("dropping");
    });
    window.addEventListener("dragleave", () => document.body.classList.remove("dropping"));
    window.addEventListener("drop", (event) => {
      event.preventDefault();
      document.body.classList.remove("dropping");
      if (event.dataTransfer.files[0]) loadFile(event.dataTransfer.files[0]);
    });
    window.addEventListener("keydown", (event) => {
      // A focused button or box takes Space itself.
      const focused = ["INPUT", "BUTTON"].includes(event.target.tagName);
      if (event.key === " " && !focused && player.handle) {
        event.preventDefault();
        togglePlay();
      }
    });
  }

  async function start() {
    M = await createBromPlayer();
    scratch = M._malloc(64);
    stepBuffer = M._malloc(STEP_FRAMES * 4);
    await openAudio();
    wireControls();
    requestAnimationFrame(showPosition);
    await load(params.get("song") || "brom-boogie.xm").catch(() => null);
    return {
      position: () => {
        const at = heard();
        return { order: at.order, row: at.row, timeMs: at.timeMs };
      },
      audioState: () => audio.context.state,
      audioPath: () => (audio.worklet ? "worklet" : "script"),
      load: load,
      play: play,
      pause: pause,
      renderWav: (url) => (url ? fetchSong(url) : Promise.resolve(player.bytes)).then(renderWav),
    };
  }

  window.bromReady = start();
  window.bromReady.catch((error) => status("The player cannot start: " + error.message));
})();
