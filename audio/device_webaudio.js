// The browser side of the Web Audio output device (device_webaudio.h), linked into the page's
// script with --js-library. The looping buffer lives in the module's memory as 16-bit stereo
// frames; the device plays it endlessly and counts the frames played, which is the position the
// scheduler sees.
//
// With an AudioWorklet (secure pages) the audio thread cannot read the module's memory: it keeps
// a copy of the loop (device_webaudio_worklet.js), reports the frames it has played every few
// milliseconds, and after each report this side polls the scheduler and sends the part of the
// loop played since the last report, which the poll has just mixed anew. With a ScriptProcessor
// the callback runs on the page's thread, reads the loop in place and polls right after.
// The context starts suspended, as browsers want it before the user has done anything: the page
// switches the sound on (Module.webAudio.play()) on a click or key.
mergeInto(LibraryManager.library, {
  $BromAudio: {
    context: null,
    node: null, // the AudioWorkletNode or ScriptProcessorNode, once made
    worklet: false,
    ringAddress: 0, // the looping buffer: byte address and length in frames
    ringFrames: 0,
    playing: false,
    framesPlayed: 0, // since the start, as last reported by the audio side
    cursor: 0, // ScriptProcessor: the next frame of the loop to play
    sentUpTo: 0, // AudioWorklet: the loop frame up to which its copy is current
    capture: null, // ScriptProcessor: a capture under way
    captureResolvers: [], // AudioWorklet: captures asked for, oldest first

    // The loop's frames [from, to) as a fresh Int16Array.
    ringSlice: function (from, to) {
      var first = (BromAudio.ringAddress >> 1) + 2 * from;
      return HEAP16.slice(first, first + 2 * (to - from));
    },

    post: function (message, transfer) {
      BromAudio.node.port.postMessage(message, transfer || []);
    },

    sendRange: function (from, to) {
      if (to <= from) return;
      var samples = BromAudio.ringSlice(from, to);
      BromAudio.post({ kind: "update", at: from, samples: samples }, [samples.buffer]);
    },

    sendStart: function () {
      var samples = BromAudio.ringSlice(0, BromAudio.ringFrames);
      BromAudio.post({ kind: "start", samples: samples }, [samples.buffer]);
      BromAudio.sentUpTo = 0;
    },

    // The audio side has played on: let the scheduler re-mix, then bring the worklet's copy up
    // to date with what was played since the last time.
    played: function (frames) {
      if (!BromAudio.playing) return;
      BromAudio.framesPlayed = frames;
      _bromWebAudioPoll();
      if (!BromAudio.worklet || !BromAudio.playing) return;
      var now = frames % BromAudio.ringFrames;
      if (now < BromAudio.sentUpTo) {
        BromAudio.sendRange(BromAudio.sentUpTo, BromAudio.ringFrames);
        BromAudio.sentUpTo = 0;
      }
      BromAudio.sendRange(BromAudio.sentUpTo, now);
      BromAudio.sentUpTo = now;
    },

    makeWorkletNode: function () {
      var node = new AudioWorkletNode(BromAudio.context, "brom-loop", {
        numberOfInputs: 0,
        numberOfOutputs: 1,
        outputChannelCount: [2],
      });
      node.port.onmessage = function (event) {
        var message = event.data;
        if (message.kind === "played") BromAudio.played(message.frames);
        if (message.kind === "captured")
          BromAudio.captureResolvers.shift()({
            startFrame: message.startFrame,
            samples: message.samples,
          });
      };
      node.connect(BromAudio.context.destination);
      BromAudio.node = node;
      BromAudio.worklet = true;
      if (BromAudio.playing) BromAudio.sendStart();
    },

    // Fills the callback's output from the loop in the module's memory and counts the frames.
    scriptProcess: function (event) {
      var left = event.outputBuffer.getChannelData(0);
      var right = event.outputBuffer.getChannelData(1);
      if (!BromAudio.playing || !BromAudio.ringFrames) {
        left.fill(0);
        right.fill(0);
        return;
      }
      var base = BromAudio.ringAddress >> 1;
      var cursor = BromAudio.cursor;
      for (var i = 0; i < left.length; ++i) {
        left[i] = HEAP16[base + 2 * cursor] / 32768;
        right[i] = HEAP16[base + 2 * cursor + 1] / 32768;
        if (++cursor === BromAudio.ringFrames) cursor = 0;
      }
      BromAudio.cursor = cursor;
      BromAudio.feedCapture(left, right, BromAudio.framesPlayed);
      BromAudio.played(BromAudio.framesPlayed + left.length);
    },

    makeScriptNode: function () {
      var node = BromAudio.context.createScriptProcessor(4096, 0, 2);
      node.onaudioprocess = BromAudio.scriptProcess;
      node.connect(BromAudio.context.destination);
      BromAudio.node = node;
      BromAudio.worklet = false;
    },

    // ScriptProcessor captures: the frames as they leave, from the first callback after the ask.
    feedCapture: function (left, right, firstFrame) {
      var capture = BromAudio.capture;
      if (!capture) return;
      if (capture.filled === 0) capture.startFrame = firstFrame;
      for (var i = 0; i < left.length && capture.filled < capture.frames; ++i) {
        capture.samples[2 * capture.filled] = left[i];
        capture.samples[2 * capture.filled + 1] = right[i];
        capture.filled++;
      }
      if (capture.filled < capture.frames) return;
      BromAudio.capture = null;
      capture.resolve({ startFrame: capture.startFrame, samples: capture.samples });
    },

    // What the page sees: the context's state, sound on and off (browsers allow "on" only after
    // the user has clicked or pressed a key on the page), the path taken, and captures of the
    // next frames played (interleaved floats and the number of the first frame since the start).
    pageInterface: function () {
      return {
        state: function () {
          return BromAudio.context ? BromAudio.context.state : "closed";
        },
        play: function () {
          return BromAudio.context ? BromAudio.context.resume() : Promise.resolve();
        },
        pause: function () {
          return BromAudio.context ? BromAudio.context.suspend() : Promise.resolve();
        },
        path: function () {
          return BromAudio.node ? (BromAudio.worklet ? "worklet" : "script") : "none";
        },
        capture: function (frames) {
          return new Promise(function (resolve) {
            if (BromAudio.worklet) {
              BromAudio.captureResolvers.push(resolve);
              BromAudio.post({ kind: "capture", frames: frames });
            } else {
              BromAudio.capture = {
                frames: frames,
                filled: 0,
                startFrame: 0,
                samples: new Float32Array(2 * frames),
                resolve: resolve,
              };
            }
          });
        },
      };
    },
  },

  bromWebAudioOpen__deps: ["$BromAudio"],
  bromWebAudioOpen: function (rate) {
    var Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return 0;
    try {
      BromAudio.context = new Context({ sampleRate: rate, latencyHint: "playback" });
    } catch (e) {
      return 2;
    }
    var context = BromAudio.context;
    // Silent until the page says otherwise, whatever the browser's policy on sound.
    context.suspend();
    BromAudio.playing = false;
    BromAudio.framesPlayed = 0;
    var useWorklet =
      window.isSecureContext && context.audioWorklet && Module["webAudioPath"] !== "script";
    if (useWorklet) {
      var url = Module["webAudioWorkletUrl"] || "brom-audio-worklet.js";
      // The module loads while the program goes on; a device closed meanwhile wants no node.
      context.audioWorklet.addModule(url).then(
        function () {
          if (BromAudio.context === context) BromAudio.makeWorkletNode();
        },
        function (error) {
          if (BromAudio.context !== context) return;
          err("brom: no audio worklet (" + error + "); playing through a ScriptProcessor");
          BromAudio.makeScriptNode();
        },
      );
    } else {
      BromAudio.makeScriptNode();
    }
    Module["webAudio"] = BromAudio.pageInterface();
    return 1;
  },

  bromWebAudioStart__deps: ["$BromAudio"],
  bromWebAudioStart: function (address, byteCount) {
    BromAudio.ringAddress = address;
    BromAudio.ringFrames = byteCount >>> 2;
    BromAudio.framesPlayed = 0;
    BromAudio.cursor = 0;
    BromAudio.playing = true;
    if (BromAudio.worklet) BromAudio.sendStart();
  },

  bromWebAudioPosition__deps: ["$BromAudio"],
  bromWebAudioPosition: function () {
    return (BromAudio.framesPlayed * 4) >>> 0;
  },

  bromWebAudioStop__deps: ["$BromAudio"],
  bromWebAudioStop: function () {
    BromAudio.playing = false;
    BromAudio.framesPlayed = 0;
    BromAudio.cursor = 0;
    if (BromAudio.worklet) BromAudio.post({ kind: "stop" });
  },

  bromWebAudioClose__deps: ["$BromAudio"],
  bromWebAudioClose: function () {
    if (BromAudio.node) BromAudio.node.disconnect();
    if (BromAudio.context) BromAudio.context.close();
    BromAudio.node = null;
    BromAudio.context = null;
    BromAudio.worklet = false;
    BromAudio.ringFrames = 0;
  },
});
