// The Player's sound (index.js): an AudioWorkletProcessor that renders the song itself, on the
// audio thread, with an instance of brom.wasm of its own, at the context's rate. Each render
// quantum is the library's float mix, as it is (the Player's volume is a GainNode after it).
//
// Messages in: {type: "play" | "pause" | "seek" (ms) | "seekOrder" (order, row) | "mute"
// (channel, muted) | "gainDb" | "stereo" | "repeat" | "interpolation" | "amiga" | "subsong" (value)
// | "setEnd" (how, fadeMs) | "free"}.
// Messages out: {type: "position", frame, timeMs, order, pattern, row, speed, bpm, levels}
// every `positionFrames` frames played and after every seek; {type: "end"} when the song has
// ended; {type: "error", message}.
import { instantiate } from "./core.js";

class BromPlayerProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const o = options.processorOptions;
    this.playing = !!o.autoplay;
    this.ended = false;
    this.frame = 0; // frames played
    this.sinceReport = 0;
    this.positionFrames = o.positionFrames || 1024;
    try {
      const wasm = o.wasm instanceof WebAssembly.Module ? o.wasm : new WebAssembly.Module(o.wasm);
      this.song = instantiate(wasm).load(o.song);
      this.song.sampleRate = sampleRate;
      for (const [name, value] of Object.entries(o.settings || {})) this.apply(name, value);
    } catch (error) {
      this.song = null;
      this.port.postMessage({ type: "error", message: String(error && error.message) });
    }
    this.port.onmessage = (event) => this.receive(event.data);
  }

  apply(name, value) {
    if (name === "mutes") value.forEach((muted, c) => this.song.mute(c, muted));
    else this.song[name] = value;
  }

  receive(m) {
    if (!this.song) return;
    try {
      if (m.type === "play") this.playing = true;
      else if (m.type === "pause") this.playing = false;
      else if (m.type === "free") {
        this.song.free();
        this.song = null;
      } else if (m.type === "seek" || m.type === "seekOrder" || m.type === "subsong") {
        if (m.type === "seek") this.song.seekMs(m.ms);
        else if (m.type === "seekOrder") this.song.seekOrder(m.order, m.row);
        else this.song.subsong = m.value;
        this.ended = false;
        this.report();
      } else if (m.type === "mute") this.song.mute(m.channel, m.muted);
      else if (m.type === "setEnd") this.song.setEnd(m.how, m.fadeMs);
      else this.apply(m.type, m.value);
    } catch (error) {
      this.port.postMessage({ type: "error", message: String(error && error.message) });
    }
  }

  report() {
    const p = this.song.position;
    this.port.postMessage({ type: "position", frame: this.frame, levels: this.song.levels, ...p });
    this.sinceReport = 0;
  }

  process(inputs, outputs) {
    if (!this.song) return false;
    if (!this.playing || this.ended) return true; // the output stays silent
    const left = outputs[0][0];
    const right = outputs[0][1] || left;
    const lib = this.song.lib;
    const got = this.song.renderBlock(true, left.length);
    const mix = new Float32Array(lib.x.memory.buffer, this.song.buffer, 2 * got);
    for (let k = 0; k < got; ++k) {
      left[k] = mix[2 * k];
      right[k] = mix[2 * k + 1];
    }
    this.frame += got;
    this.sinceReport += got;
    if (got < left.length) {
      this.ended = true;
      this.report();
      this.port.postMessage({ type: "end" });
    } else if (this.sinceReport >= this.positionFrames) {
      this.report();
    }
    return true;
  }
}

registerProcessor("brom-player", BromPlayerProcessor);
