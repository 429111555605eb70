// brom-player: XM and MOD tracker modules in JavaScript, from the Brom library built as
// WebAssembly (brom.wasm beside this file).
//
//   import { loadModule } from "brom-player";
//   const song = await loadModule(await (await fetch("song.xm")).arrayBuffer());
//   const frames = new Float32Array(2 * 4096);          // interleaved stereo, 1.0 full scale
//   while (song.render(frames) > 0) { ... }
//
// In a page, `Player.create(audioContext, bytes)` plays a song through an AudioWorklet
// (worklet.js), which renders it on the audio thread.
import { BromError, BromModule, Library, instantiate } from "./core.js";

export { BromError, BromModule, Library };

let compiled = null; // the default brom.wasm, compiled once

async function bytesAt(url) {
  if (url.protocol === "file:") {
    const { readFile } = await import("node:fs/promises");
    return readFile(url);
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error("brom: " + url + ": " + response.status);
  return response.arrayBuffer();
}

/** The compiled brom.wasm: `source` (a WebAssembly.Module, its bytes or its URL), or the one
 *  beside this file. */
export async function compileLibrary(source) {
  if (source instanceof WebAssembly.Module) return source;
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) return WebAssembly.compile(source);
  if (source !== undefined) return WebAssembly.compile(await bytesAt(new URL(source, import.meta.url)));
  if (!compiled) compiled = bytesAt(new URL("./brom.wasm", import.meta.url)).then((b) => WebAssembly.compile(b));
  return compiled;
}

/** A new instance of the library (its own memory). */
export async function createLibrary(source) {
  return instantiate(await compileLibrary(source));
}

let shared = null;

/** Loads a module from the file's bytes. Modules loaded this way share one library instance;
 *  `options.wasm` gives another brom.wasm. Throws BromError with the library's reason. */
export async function loadModule(data, options = {}) {
  if (options.wasm !== undefined) return (await createLibrary(options.wasm)).load(data);
  if (!shared) shared = createLibrary();
  return (await shared).load(data);
}

/** The library's version, "1.0.0". */
export async function version() {
  if (!shared) shared = createLibrary();
  return (await shared).version();
}

const loadedWorklets = new WeakMap(); // context -> Promise of addModule

/** A song playing through an AudioWorklet on `context` (an AudioContext or an
 *  OfflineAudioContext). Events: "position" (detail: {timeMs, order, pattern, row, speed, bpm,
 *  levels, frame}), "end", "error" (detail: message). */
export class Player extends EventTarget {
  /** Loads the song (throws BromError for a bad file) and connects the player to
   *  `options.destination` (default: the context's destination; null: nowhere). */
  static async create(context, data, options = {}) {
    const wasm = await compileLibrary(options.wasm);
    const song = instantiate(wasm).load(data); // the main thread's copy, for what the file holds
    if (!loadedWorklets.has(context)) {
      const url = options.workletUrl || new URL("./worklet.js", import.meta.url);
      loadedWorklets.set(context, context.audioWorklet.addModule(url));
    }
    await loadedWorklets.get(context);
    const bytes = data instanceof ArrayBuffer ? data.slice(0) : new Uint8Array(data).buffer;
    const node = new AudioWorkletNode(context, "brom-player", {
      numberOfInputs: 0,
      numberOfOutputs: 1,
      outputChannelCount: [2],
      processorOptions: {
        wasm,
        song: bytes,
        autoplay: !!options.autoplay,
        positionFrames: options.positionFrames,
        settings: options.settings,
      },
    });
    return new Player(context, node, song, options.destination);
  }

  constructor(context, node, song, destination) {
    super();
    this.context = context;
    this.node = node;
    this.module = song;
    this.output = context.createGain();
    node.connect(this.output);
    if (destination !== null) this.output.connect(destination || context.destination);
    this.position = { timeMs: 0, order: 0, pattern: song.orders[0] ?? 0, row: 0, levels: [] };
    this.playing = false;
    this.ended = false;
    node.port.onmessage = (event) => this.received(event.data);
    node.onprocessorerror = () => this.emit("error", "the audio worklet failed");
  }

  emit(type, detail) {
    this.dispatchEvent(new CustomEvent(type, { detail }));
  }

  received(m) {
    if (m.type === "position") {
      this.position = m;
      this.emit("position", m);
    } else if (m.type === "end") {
      this.playing = false;
      this.ended = true;
      this.emit("end");
    } else if (m.type === "error") {
      this.emit("error", m.message);
    }
  }

  send(type, fields) {
    this.node.port.postMessage({ type, ...fields });
  }

  /** Starts or resumes; resumes the AudioContext too (browsers want a click or key first). */
  async play() {
    this.playing = true;
    this.ended = false;
    this.send("play");
    const live = typeof AudioContext !== "undefined" && this.context instanceof AudioContext;
    if (live && this.context.state !== "running") await this.context.resume();
  }
  pause() {
    this.playing = false;
    this.send("pause");
  }
  /** To a time in the song, sample-exact. */
  seek(seconds) {
    this.ended = false;
    this.send("seek", { ms: Math.max(0, Math.round(seconds * 1000)) });
  }
  /** As a pattern jump would: effect memories and sounding notes carry on. */
  seekOrder(order, row = 0) {
    this.ended = false;
    this.send("seekOrder", { order, row });
  }
  mute(channel, muted = true) {
    this.send("mute", { channel, muted });
  }
  /** Loudness after the library, linear (1: as rendered). */
  get volume() {
    return this.output.gain.value;
  }
  set volume(value) {
    this.output.gain.value = value;
  }
  /** The library's gain before its conversion, -60..24 dB; stereo separation 0..200 %; repeat
   *  count (-1: forever). */
  set gainDb(value) {
    this.send("gainDb", { value });
  }
  set stereo(value) {
    this.send("stereo", { value });
  }
  set repeat(value) {
    this.send("repeat", { value });
  }
  /** "nearest", "linear", "cubic" or "sinc"; the Amiga's sound for MOD files, "off", "a500" or
   *  "a1200" (an "error" event for other formats). */
  set interpolation(value) {
    this.send("interpolation", { value });
  }
  set amiga(value) {
    this.send("amiga", { value });
  }
  /** Plays subsong `index` (from 0) from its start; -1 the whole order list. */
  set subsong(value) {
    this.ended = false;
    this.send("subsong", { value });
  }
  /** How the song ends: "stop", "loop", or "fade" over `fadeMs`. */
  setEnd(how, fadeMs = 10000) {
    this.send("setEnd", { how, fadeMs });
  }
  /** Stops the sound and frees both copies of the song. */
  dispose() {
    this.send("free");
    this.node.disconnect();
    this.output.disconnect();
    this.module.free();
  }
}
