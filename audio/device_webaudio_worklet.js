// The audio-thread side of the Web Audio output device (device_webaudio.js): a copy of the
// looping buffer, played endlessly from its first frame once the page sends it, kept current by
// the page as the scheduler re-mixes what was played. Every 1024 frames or so it tells the page
// how many frames it has played since the start.
//
// Messages from the page: {kind: "start", samples} (the whole loop, 16-bit stereo),
// {kind: "update", at, samples} (frames from loop frame `at` on), {kind: "stop"},
// {kind: "capture", frames} (send back the next `frames` frames as they leave).
// To the page: {kind: "played", frames}, {kind: "captured", startFrame, samples}.
const REPORT_FRAMES = 1024;

class BromLoopProcessor extends AudioWorkletProcessor {
  constructor() {
    super();
    this.loop = null; // Int16Array, interleaved stereo
    this.cursor = 0;
    this.played = 0;
    this.reportedAt = 0;
    this.captures = [];
    this.port.onmessage = (event) => this.receive(event.data);
  }

  receive(message) {
    if (message.kind === "start") {
      this.loop = message.samples;
      this.cursor = 0;
      this.played = 0;
      this.reportedAt = 0;
    } else if (message.kind === "update" && this.loop) {
      this.loop.set(message.samples, 2 * message.at);
    } else if (message.kind === "stop") {
      this.loop = null;
    } else if (message.kind === "capture") {
      this.captures.push({ frames: message.frames, filled: 0, startFrame: 0, samples: null });
    }
  }

  capture(left, right, firstFrame) {
    const capture = this.captures[0];
    if (!capture) return;
    if (!capture.samples) {
      capture.samples = new Float32Array(2 * capture.frames);
      capture.startFrame = firstFrame;
    }
    for (let i = 0; i < left.length && capture.filled < capture.frames; ++i) {
      capture.samples[2 * capture.filled] = left[i];
      capture.samples[2 * capture.filled + 1] = right[i];
      capture.filled++;
    }
    if (capture.filled < capture.frames) return;
    this.captures.shift();
    this.port.postMessage(
      { kind: "captured", startFrame: capture.startFrame, samples: capture.samples },
      [capture.samples.buffer],
    );
  }

  process(inputs, outputs) {
    const left = outputs[0][0];
    const right = outputs[0][1];
    const loop = this.loop;
    if (!loop) {
      left.fill(0);
      right.fill(0);
      return true;
    }
    const frames = loop.length >> 1;
    let cursor = this.cursor;
    for (let i = 0; i < left.length; ++i) {
      left[i] = loop[2 * cursor] / 32768;
      right[i] = loop[2 * cursor + 1] / 32768;
      if (++cursor === frames) cursor = 0;
    }
    this.cursor = cursor;
    this.capture(left, right, this.played);
    this.played += left.length;
    if (this.played - this.reportedAt >= REPORT_FRAMES) {
      this.reportedAt = this.played;
      this.port.postMessage({ kind: "played", frames: this.played });
    }
    return true;
  }
}

registerProcessor("brom-loop", BromLoopProcessor);
