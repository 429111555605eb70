// The Brom library (brom.wasm, the public C library of include/brom/brom.h built as standalone
// WebAssembly) seen from JavaScript: no Emscripten glue, so the same code runs in a page, a
// worker, an audio worklet and Node.js. index.js loads the WebAssembly and adds the Player;
// worklet.js renders on the audio thread with this file too.
//
// Records the library fills are read from its memory by offset (js/abi.c checks them); 64-bit
// times pass as BigInts. Strings are the module file's bytes: UTF-8 when valid, else Latin-1.

const ERROR_NAMES = ["ok", "argument", "io", "format", "truncated", "memory"];
const LOOP_NAMES = ["none", "forward", "ping-pong"];
// The library's enumerations by name, in the order brom.h numbers them.
const INTERPOLATIONS = ["nearest", "linear", "cubic", "sinc"];
const AMIGA_MODELS = ["off", "a500", "a1200"];
const ENDS = ["stop", "loop", "fade"];
const STEM_GROUPS = ["off", "channel", "instrument"];
const SCRATCH_BYTES = 64; // for the records the library fills
const BLOCK_FRAMES = 16384; // rendered at a time into the module's own buffer
const WAV_MOST_FRAMES = Math.floor((0xffffffff - 36) / 4); // a WAV file's sizes are 32-bit

/** A module could not be loaded, or a value was refused. */
export class BromError extends Error {
  constructor(code, reason) {
    super(reason);
    this.name = "BromError";
    this.code = typeof code === "number" ? ERROR_NAMES[code] || String(code) : code;
    this.reason = reason;
  }
}

function refused(what) {
  return new BromError("argument", "brom: " + what + " refused");
}

// The library's number for one of its names.
function numberOf(names, value, what) {
  const k = names.indexOf(value);
  if (k < 0) {
    const choices = names.map((n) => '"' + n + '"').join(", ");
    throw new BromError("argument", "brom: " + what + " is " + choices + ", not " + JSON.stringify(value));
  }
  return k;
}

// An int64 of the library's records, from two 32-bit words (exact below 2^53).
function int64(words, at) {
  return (words[at] >>> 0) + words[at + 1] * 4294967296;
}

// The zero-terminated bytes as text: UTF-8 when they are valid as such, else Latin-1 (audio
// worklets have no TextDecoder).
function decodeText(bytes) {
  let text = "";
  for (let k = 0; k < bytes.length; ) {
    const b = bytes[k];
    const n = b < 0x80 ? 1 : b >= 0xf0 && b <= 0xf4 ? 4 : b >= 0xe0 ? 3 : b >= 0xc2 ? 2 : 0;
    let code = n === 1 ? b : b & (0x7f >> n);
    for (let j = 1; j < n; ++j) {
      if ((bytes[k + j] & 0xc0) !== 0x80) return String.fromCharCode.apply(null, bytes);
      code = (code << 6) | (bytes[k + j] & 0x3f);
    }
    const lowest = [0, 0, 0x80, 0x800, 0x10000][n];
    if (n === 0 || code < lowest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
      return String.fromCharCode.apply(null, bytes);
    }
    text += String.fromCodePoint(code);
    k += n;
  }
  return text;
}

/** Instantiates a compiled brom.wasm (synchronously: audio worklets cannot wait). */
export function instantiate(wasmModule) {
  const imports = {};
  for (const entry of WebAssembly.Module.imports(wasmModule)) {
    if (entry.kind !== "function") continue;
    const space = (imports[entry.module] = imports[entry.module] || {});
    // The library reads no files and writes nothing out; whatever else the C runtime asks the
    // host for is refused (52: ENOSYS).
    space[entry.name] =
      entry.name === "proc_exit"
        ? (status) => {
            throw new Error("brom: the library exited with " + status);
          }
        : entry.name === "emscripten_notify_memory_growth"
          ? () => {}
          : () => 52;
  }
  const instance = new WebAssembly.Instance(wasmModule, imports);
  if (instance.exports._initialize) instance.exports._initialize();
  return new Library(instance.exports);
}

/** One instance of the library: its memory and functions. */
export class Library {
  constructor(exports) {
    this.x = exports;
    this.scratch = exports.malloc(SCRATCH_BYTES);
  }

  get u8() {
    return new Uint8Array(this.x.memory.buffer);
  }

  i32(at, index = 0) {
    return new Int32Array(this.x.memory.buffer, at, index + 1)[index];
  }

  /** Writes `text` (ASCII) zero-terminated to the scratch area; its address, 0 when too long. */
  scratchText(text) {
    if (text.length >= SCRATCH_BYTES) return 0;
    const bytes = this.u8;
    for (let k = 0; k < text.length; ++k) bytes[this.scratch + k] = text.charCodeAt(k) & 0xff;
    bytes[this.scratch + text.length] = 0;
    return this.scratch;
  }

  text(pointer) {
    if (!pointer) return "";
    const bytes = this.u8;
    let end = pointer;
    while (bytes[end]) ++end;
    return decodeText(bytes.subarray(pointer, end));
  }

  /** The library's version, "1.0.0". */
  version() {
    return this.text(this.x.brom_version());
  }

  /** Loads a module from the file's bytes (copied); throws BromError with the library's reason. */
  load(data) {
    const bytes =
      data instanceof ArrayBuffer
        ? new Uint8Array(data)
        : new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
    const x = this.x;
    const at = x.malloc(Math.max(bytes.length, 1));
    if (!at) throw new BromError("memory", "out of memory");
    this.u8.set(bytes, at);
    new Uint32Array(x.memory.buffer, this.scratch, 2).fill(0);
    const handle = x.brom_load_memory_ex(at, bytes.length, this.scratch, this.scratch + 4);
    x.free(at);
    if (!handle) {
      const code = this.i32(this.scratch);
      const reason = this.text(this.i32(this.scratch, 1)) || this.text(x.brom_error_string(code));
      throw new BromError(code, reason);
    }
    return new BromModule(this, handle);
  }
}

/** One loaded module and its playback. */
export class BromModule {
  constructor(library, handle) {
    this.lib = library;
    this.handle = handle;
    this.buffer = library.x.malloc(BLOCK_FRAMES * 8);
    this.settings = { repeat: 0, gainDb: 0, stereo: 100, end: "stop", fadeMs: 10000, stems: "off" };
    this.settings.scopeFrames = 0;
    if (!this.buffer) throw new BromError("memory", "out of memory");
  }

  get x() {
    if (!this.handle) throw new BromError("argument", "brom: the module was freed");
    return this.lib.x;
  }

  /** Frees the library's module; the object is unusable after. */
  free() {
    if (!this.handle) return;
    this.lib.x.brom_free(this.handle);
    this.lib.x.free(this.buffer);
    this.handle = 0;
  }

  // ---- What the file holds ----

  get title() {
    return this.lib.text(this.x.brom_title(this.handle));
  }
  get tracker() {
    return this.lib.text(this.x.brom_tracker(this.handle));
  }
  /** "XM", "MOD", "S3M" or "IT", as the file's bytes tell. */
  get format() {
    return this.lib.text(this.x.brom_format_name(this.x.brom_format(this.handle)));
  }
  get message() {
    return this.lib.text(this.x.brom_message(this.handle));
  }
  get info() {
    this.x.brom_get_song_info(this.handle, this.lib.scratch);
    const v = new Int32Array(this.lib.x.memory.buffer, this.lib.scratch, 8);
    return {
      channels: v[0],
      songLength: v[1],
      restart: v[2],
      patterns: v[3],
      instruments: v[4],
      speed: v[5],
      bpm: v[6],
      linear: v[7] !== 0,
    };
  }
  get channels() {
    return this.x.brom_channel_count(this.handle);
  }
  get orders() {
    const orders = [];
    for (let k = 0; k < this.info.songLength; ++k) orders.push(this.x.brom_order_pattern(this.handle, k));
    return orders;
  }
  get instrumentNames() {
    const names = [];
    for (let k = 0; k < this.x.brom_instrument_count(this.handle); ++k) {
      names.push(this.lib.text(this.x.brom_instrument_name(this.handle, k)));
    }
    return names;
  }
  get instruments() {
    return this.instrumentNames.map((name, k) => {
      this.x.brom_get_instrument_info(this.handle, k, this.lib.scratch);
      const v = new Int32Array(this.lib.x.memory.buffer, this.lib.scratch, 10);
      return {
        name,
        samples: v[0],
        volumePoints: v[1],
        volumeEnvelope: v[2] !== 0,
        panningPoints: v[3],
        panningEnvelope: v[4] !== 0,
        fadeout: v[5],
        vibratoType: v[6],
        vibratoSweep: v[7],
        vibratoDepth: v[8],
        vibratoRate: v[9],
      };
    });
  }
  samples(instrument) {
    const samples = [];
    for (let k = 0; k < this.x.brom_sample_count(this.handle, instrument); ++k) {
      this.x.brom_get_sample_info(this.handle, instrument, k, this.lib.scratch);
      const u = new Uint32Array(this.lib.x.memory.buffer, this.lib.scratch, 9);
      const v = new Int32Array(this.lib.x.memory.buffer, this.lib.scratch, 9);
      samples.push({
        name: this.lib.text(this.x.brom_sample_name(this.handle, instrument, k)),
        length: u[0],
        loopStart: u[1],
        loopLength: u[2],
        loop: LOOP_NAMES[v[3]] || String(v[3]),
        volume: v[4],
        finetune: v[5],
        panning: v[6],
        relativeNote: v[7],
        bits: v[8],
      });
    }
    return samples;
  }
  patternRows(pattern) {
    return this.x.brom_pattern_rows(this.handle, pattern);
  }
  cell(pattern, row, channel) {
    if (!this.x.brom_get_pattern_cell(this.handle, pattern, row, channel, this.lib.scratch)) {
      throw refused("cell " + pattern + "/" + row + "/" + channel);
    }
    const v = new Int32Array(this.lib.x.memory.buffer, this.lib.scratch, 5);
    return { note: v[0], instrument: v[1], volume: v[2], effect: v[3], param: v[4] };
  }
  cellText(pattern, row, channel) {
    if (!this.x.brom_cell_text(this.handle, pattern, row, channel, this.lib.scratch, SCRATCH_BYTES)) {
      throw refused("cell " + pattern + "/" + row + "/" + channel);
    }
    return this.lib.text(this.lib.scratch);
  }
  get repairs() {
    const notes = [];
    for (let k = 0; k < this.x.brom_repair_count(this.handle); ++k) {
      notes.push(this.lib.text(this.x.brom_repair_note(this.handle, k)));
    }
    return notes;
  }

  // ---- Time ----

  get durationMs() {
    return Number(this.x.brom_duration_ms(this.handle));
  }
  orderTimeMs(order) {
    return Number(this.x.brom_order_time_ms(this.handle, order));
  }
  get position() {
    this.x.brom_get_position(this.handle, this.lib.scratch);
    const v = new Int32Array(this.lib.x.memory.buffer, this.lib.scratch, 8);
    return {
      timeMs: int64(v, 0),
      order: v[2],
      pattern: v[3],
      row: v[4],
      speed: v[5],
      bpm: v[6],
    };
  }
  seekMs(ms) {
    if (!this.x.brom_seek_ms(this.handle, BigInt(Math.round(ms)))) throw refused("seek to " + ms + " ms");
  }
  seek(seconds) {
    this.seekMs(seconds * 1000);
  }
  seekOrder(order, row = 0) {
    if (!this.x.brom_seek_order_row(this.handle, order, row)) {
      throw refused("seek to order " + order + ", row " + row);
    }
  }

  // ---- Subsongs and the end ----

  get subsongCount() {
    return this.x.brom_subsong_count(this.handle);
  }
  get subsongs() {
    const list = [];
    for (let k = 0; k < this.subsongCount; ++k) {
      this.x.brom_get_subsong(this.handle, k, this.lib.scratch);
      const v = new Int32Array(this.lib.x.memory.buffer, this.lib.scratch, 8);
      const name = this.lib.text(v[6]);
      list.push({ order: v[0], row: v[1], durationMs: int64(v, 2), frames: int64(v, 4), name });
    }
    return list;
  }
  get subsong() {
    return this.x.brom_selected_subsong(this.handle);
  }
  set subsong(index) {
    if (!this.x.brom_select_subsong(this.handle, index)) {
      throw refused("subsong " + index + " of " + this.subsongCount);
    }
  }
  orderSubsong(order) {
    return this.x.brom_order_subsong(this.handle, order);
  }
  setEnd(how, fadeMs = 10000) {
    if (!this.x.brom_set_end(this.handle, numberOf(ENDS, how, "the end"), fadeMs)) {
      throw refused("fade of " + fadeMs + " ms");
    }
    Object.assign(this.settings, { end: how, fadeMs });
  }
  get end() {
    return this.settings.end;
  }
  get fadeMs() {
    return this.settings.fadeMs;
  }

  // ---- Settings ----

  get profile() {
    return this.lib.text(this.x.brom_profile(this.handle));
  }
  set profile(name) {
    const at = this.lib.scratchText(String(name));
    if (!at || !this.x.brom_set_profile(this.handle, at)) {
      const when = "unknown, or after the first render and not right after a seek";
      throw refused("profile " + JSON.stringify(name) + " (" + when + ")");
    }
  }
  get interpolation() {
    return INTERPOLATIONS[this.x.brom_interpolation_mode(this.handle)];
  }
  set interpolation(mode) {
    this.x.brom_set_interpolation(this.handle, numberOf(INTERPOLATIONS, mode, "the interpolation"));
  }
  get amiga() {
    return AMIGA_MODELS[this.x.brom_amiga_model(this.handle)];
  }
  set amiga(model) {
    if (!this.x.brom_set_amiga(this.handle, numberOf(AMIGA_MODELS, model, "the Amiga model"))) {
      throw new BromError("argument", "brom: the Amiga's sound is for MOD files, not " + this.format);
    }
  }

  get sampleRate() {
    return this.x.brom_sample_rate(this.handle);
  }
  set sampleRate(rate) {
    if (!this.x.brom_set_sample_rate(this.handle, rate)) throw refused("sample rate " + rate);
  }
  get repeat() {
    return this.settings.repeat;
  }
  set repeat(count) {
    if (!this.x.brom_set_repeat_count(this.handle, count)) throw refused("repeat count " + count);
    this.settings.repeat = count;
  }
  get gainDb() {
    return this.settings.gainDb;
  }
  set gainDb(decibels) {
    if (!this.x.brom_set_gain_db(this.handle, decibels)) throw refused("gain " + decibels + " dB");
    this.settings.gainDb = decibels;
  }
  get stereo() {
    return this.settings.stereo;
  }
  set stereo(percent) {
    if (!this.x.brom_set_stereo_separation(this.handle, percent)) {
      throw refused("stereo separation " + percent);
    }
    this.settings.stereo = percent;
  }
  mute(channel, muted = true) {
    if (!this.x.brom_set_channel_mute(this.handle, channel, muted ? 1 : 0)) {
      throw refused("channel " + channel);
    }
  }
  muted(channel) {
    return this.x.brom_channel_muted(this.handle, channel) !== 0;
  }
  level(channel) {
    return this.x.brom_channel_level(this.handle, channel);
  }
  peak(channel) {
    const at = this.lib.scratch;
    if (!this.x.brom_channel_peak(this.handle, channel, at, at + 4)) throw refused("channel " + channel);
    const v = new Float32Array(this.lib.x.memory.buffer, at, 2);
    return [v[0], v[1]];
  }
  channelState(channel) {
    const at = this.lib.scratch;
    if (!this.x.brom_get_channel_state(this.handle, channel, at)) throw refused("channel " + channel);
    const v = new Int32Array(this.lib.x.memory.buffer, at, 10);
    const frequency = new Float64Array(this.lib.x.memory.buffer, at + 24, 1)[0];
    return {
      note: v[0],
      instrument: v[1],
      sample: v[2],
      volume: v[3],
      panning: v[4],
      frequency,
      voices: v[8],
    };
  }
  get backgroundNotes() {
    return this.x.brom_background_notes(this.handle);
  }
  get scopeFrames() {
    return this.settings.scopeFrames;
  }
  set scopeFrames(frames) {
    if (!this.x.brom_set_scope_frames(this.handle, frames)) throw refused("scope of " + frames + " frames");
    this.settings.scopeFrames = frames;
  }
  /** The channel's own signal over the last `scopeFrames` frames rendered, oldest first,
   *  interleaved stereo. */
  scope(channel) {
    const got = this.x.brom_channel_scope(this.handle, channel, this.buffer, this.settings.scopeFrames);
    return new Float32Array(this.lib.x.memory.buffer, this.buffer, 2 * got).slice();
  }
  get levels() {
    const levels = [];
    for (let c = 0; c < this.channels; ++c) levels.push(this.x.brom_channel_level(this.handle, c));
    return levels;
  }

  // ---- Rendering ----

  // Renders up to `frames` into the module's buffer; the frames given.
  renderBlock(floats, frames) {
    const render = floats ? this.x.brom_render_f32 : this.x.brom_render_s16;
    return render(this.handle, this.buffer, Math.min(frames, BLOCK_FRAMES));
  }

  renderInto(out, frames, floats) {
    const View = floats ? Float32Array : Int16Array;
    const want = Math.min(frames === undefined ? out.length >> 1 : frames, out.length >> 1);
    let done = 0;
    while (done < want) {
      const got = this.renderBlock(floats, want - done);
      out.set(new View(this.lib.x.memory.buffer, this.buffer, 2 * got), 2 * done);
      done += got;
      if (got === 0) break;
    }
    return done;
  }

  /** Renders up to `frames` (default: as many as `out` holds) interleaved stereo frames into
   *  `out`, 1.0 full scale; returns how many. Fewer than asked: the song has ended. */
  render(out, frames) {
    return this.renderInto(out, frames, true);
  }

  get stems() {
    return this.settings.stems;
  }
  set stems(by) {
    this.x.brom_set_stems(this.handle, numberOf(STEM_GROUPS, by, "the stems' grouping"));
    this.settings.stems = by;
  }
  get stemCount() {
    return this.x.brom_stem_count(this.handle);
  }

  /** Renders up to `frames` as render() does and takes the mix apart in the same pass, by
   *  channel or by instrument: {mix, stems}, interleaved stereo Float32Arrays of the frames
   *  given, stems[s] for stem s. Sets `stems` to `by` (heard from the next 1/50 s). */
  renderStems(frames, by = "channel") {
    numberOf(STEM_GROUPS.slice(1), by, "a stem's grouping");
    if (by !== this.settings.stems) this.stems = by;
    const count = this.stemCount;
    const block = Math.max(1, Math.min(frames, BLOCK_FRAMES));
    const area = this.x.malloc(4 * count + 8 * block * count);
    if (!area) throw new BromError("memory", "out of memory");
    const mix = new Float32Array(2 * frames);
    const stems = Array.from({ length: count }, () => new Float32Array(2 * frames));
    let done = 0;
    try {
      const table = Array.from({ length: count }, (_, s) => area + 4 * count + 8 * block * s);
      new Uint32Array(this.lib.x.memory.buffer, area, count).set(table);
      while (done < frames) {
        const want = Math.min(block, frames - done);
        const got = this.x.brom_render_stems_f32(this.handle, this.buffer, area, want);
        const memory = this.lib.x.memory.buffer;
        mix.set(new Float32Array(memory, this.buffer, 2 * got), 2 * done);
        stems.forEach((stem, s) => stem.set(new Float32Array(memory, table[s], 2 * got), 2 * done));
        done += got;
        if (got < want) break;
      }
    } finally {
      this.lib.x.free(area);
    }
    if (done === frames) return { mix, stems };
    return { mix: mix.slice(0, 2 * done), stems: stems.map((stem) => stem.slice(0, 2 * done)) };
  }

  /** The same as 16-bit samples: at 44100 Hz with the defaults, those of `brom-play --render`. */
  renderInt16(out, frames) {
    return this.renderInto(out, frames, false);
  }

  /** The rest of the song as the WAV file `brom-play --render` writes (16-bit stereo; cut where
   *  a WAV file ends, as there). */
  renderWav() {
    if (this.settings.repeat < 0) throw refused("a WAV file of a song that repeats forever");
    const parts = [];
    let frames = 0;
    for (;;) {
      const want = Math.min(BLOCK_FRAMES, WAV_MOST_FRAMES - frames);
      const got = this.renderBlock(false, want);
      parts.push(new Uint8Array(this.lib.x.memory.buffer, this.buffer, 4 * got).slice());
      frames += got;
      if (got < want || want === 0) break;
    }
    const bytes = 4 * frames;
    const wav = new Uint8Array(44 + bytes);
    const view = new DataView(wav.buffer);
    const rate = this.sampleRate;
    [..."RIFF"].forEach((c, k) => (wav[k] = c.charCodeAt(0)));
    view.setUint32(4, 36 + bytes, true);
    [..."WAVEfmt "].forEach((c, k) => (wav[8 + k] = c.charCodeAt(0)));
    view.setUint32(16, 16, true);
    view.setUint16(20, 1, true); // PCM
    view.setUint16(22, 2, true);
    view.setUint32(24, rate, true);
    view.setUint32(28, rate * 4, true);
    view.setUint16(32, 4, true);
    view.setUint16(34, 16, true);
    [..."data"].forEach((c, k) => (wav[36 + k] = c.charCodeAt(0)));
    view.setUint32(40, bytes, true);
    parts.reduce((at, part) => (wav.set(part, at), at + part.length), 44);
    return wav;
  }
}
