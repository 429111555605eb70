// The player page's sound (web/player.js): a queue of 16-bit stereo frames rendered by the page,
// played in order, with silence where it runs dry. Two uses of one file:
//
//   - as an AudioWorklet module (audioWorklet.addModule), it registers "brom-player-queue", which
//     plays the queue on the audio thread. Messages from the page: {kind: "replace", generation,
//     samples} drops what is queued and starts a new run of frames, {kind: "append", generation,
//     samples} adds to the run (ignored when from an older run). To the page: {kind: "played",
//     generation, frames, gaps}, the frames of the run played so far, every REPORT_FRAMES or so
//     and whenever the queue runs dry, and the gaps heard since the page opened;
//   - as a plain script on the page (where there is no worklet), it defines BromFrameQueue, which
//     the page's ScriptProcessor plays from.
//
// A run starts whenever what was queued no longer holds (a seek, a jump, another song): the frames
// of a run are counted from its start, so the page can tell which of its frames are being heard.
"use strict";

class BromFrameQueue {
  constructor() {
    this.chunks = []; // Int16Arrays, interleaved stereo
    this.offset = 0; // samples of chunks[0] played
    this.generation = 0;
    this.played = 0; // frames of this run played
    // Dropouts: the times the queue ran dry in the middle of a run and sound came again (silence
    // where the page did not render in time). The end of a song runs dry for good: no gap.
    this.gaps = 0;
    this.dry = false;
  }

  replace(generation, samples) {
    this.chunks = [];
    this.offset = 0;
    this.generation = generation;
    this.played = 0;
    this.dry = false;
    this.append(generation, samples);
  }

  append(generation, samples) {
    if (generation !== this.generation || samples.length === 0) return;
    if (this.dry) this.gaps += 1;
    this.dry = false;
    this.chunks.push(samples);
  }

  empty() {
    return this.chunks.length === 0;
  }

  // Fills the two channels with the next frames, silence past the end of the queue; returns how
  // many frames it took.
  fill(left, right) {
    let i = 0;
    while (i < left.length && this.chunks.length > 0) {
      const chunk = this.chunks[0];
      let at = this.offset;
      for (; i < left.length && at < chunk.length; ++i, at += 2) {
        left[i] = chunk[at] / 32768;
        right[i] = chunk[at + 1] / 32768;
      }
      this.offset = at;
      if (at === chunk.length) {
        this.chunks.shift();
        this.offset = 0;
      }
    }
    left.fill(0, i);
    right.fill(0, i);
    if (i < left.length && this.played + i > 0) this.dry = true;
    this.played += i;
    return i;
  }
}

if (typeof registerProcessor === "function") {
  const REPORT_FRAMES = 256;

  class BromQueueProcessor extends AudioWorkletProcessor {
    constructor() {
      super();
      this.queue = new BromFrameQueue();
      this.reported = 0;
      this.port.onmessage = (event) => {
        const message = event.data;
        if (message.kind === "replace") {
          this.queue.replace(message.generation, message.samples);
          this.reported = 0;
        } else if (message.kind === "append") {
          this.queue.append(message.generation, message.samples);
        }
      };
    }

    process(inputs, outputs) {
      const queue = this.queue;
      queue.fill(outputs[0][0], outputs[0][1]);
      const unreported = queue.played - this.reported;
      if (unreported >= REPORT_FRAMES || (unreported > 0 && queue.empty())) {
        this.reported = queue.played;
        this.port.postMessage({
          kind: "played",
          generation: queue.generation,
          frames: queue.played,
          gaps: queue.gaps,
        });
      }
      return true;
    }
  }

  registerProcessor("brom-player-queue", BromQueueProcessor);
}
