// The player page's views of what plays (web/player.js uses them): an oscilloscope per channel,
// beside its mute box, and the pattern view, the rows around the one playing.
//
// The scopes draw each channel's own signal as the library keeps it (brom_set_scope_frames,
// brom_channel_scope) and what the channel plays (brom_get_channel_state): the page captures
// them with the steps it renders (about once a screen frame), beside the position, and draws the
// capture of the step being heard; a muted channel's signal is silence, a flat line. The pattern view shows the cells in
// the format's own notation (brom_cell_text), built once per pattern; it moves only when the
// row heard changes (sliding the rows laid out once per pattern), and scrolls sideways when the
// channels do not fit.
"use strict";
const BromViews = (function () {
  const SCOPE_FRAMES = 512; // the signal a scope shows, about 12 ms
  const SCOPE_POINTS = 128; // of which it draws every fourth frame
  const SCOPE_GAIN = 3; // a channel seldom reaches full scale alone
  const CAPTURE_FRAMES = 768; // frames between two captures: about one a screen frame
  const PATTERN_ROWS = 17; // the row heard in the middle
  const LINE_PIXELS = 16; // the pattern's line height (player.html says the same)
  const SCOPE_RATE = 30; // scope drawings a second, at most
  const NOTES = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"];
  const FIELDS = ["note", "instrument", "volume", "effect"];
  const SEPARATOR = " | ";

  function noteName(note) {
    return note >= 1 && note <= 120 ? NOTES[(note - 1) % 12] + Math.floor((note - 1) / 12) : "";
  }

  // A cell's text, each field that is not empty in a span of its kind (empty fields, dots, take
  // the view's own dim colour: most cells are empty, and every span costs the page its layout).
  function cellMarkup(text) {
    const fields = text.split(" ");
    return fields
      .map((field, i) => {
        if (/^\.+$/.test(field)) return field;
        return '<span class="' + FIELDS[i === fields.length - 1 ? 3 : i] + '">' + field + "</span>";
      })
      .join(" ");
  }

  function create(M) {
    const scopeBuffer = M._malloc(SCOPE_FRAMES * 8);
    const record = M._malloc(64);
    const textBuffer = M._malloc(32);
    const pattern = { number: -1, shown: -1 }; // the pattern laid out and the row marked
    let canvases = [];
    let drawn = null; // the capture drawn last
    let drawnAt = 0; // and when
    let captured = { frame: -1, views: null }; // the capture made last, at that frame of its run

    function cellText(handle, patternNumber, row, channel) {
      const length = M._brom_cell_text(handle, patternNumber, row, channel, textBuffer, 32);
      return String.fromCharCode.apply(null, M.HEAPU8.subarray(textBuffer, textBuffer + length));
    }

    // Each channel's last SCOPE_FRAMES frames as SCOPE_POINTS mono points, and its note and
    // instrument, after the step that ends at `frame` of its run; the capture before when that
    // was made less than CAPTURE_FRAMES earlier in the same run.
    function capture(handle, channels, frame) {
      const recent = frame > captured.frame && frame - captured.frame < CAPTURE_FRAMES;
      if (captured.views && recent) return captured.views;
      captured = { frame: frame, views: captureNow(handle, channels) };
      return captured.views;
    }

    function captureNow(handle, channels) {
      const scopes = [];
      const notes = [];
      for (let c = 0; c < channels; ++c) {
        M._brom_channel_scope(handle, c, scopeBuffer, SCOPE_FRAMES);
        const frames = M.HEAPF32.subarray(scopeBuffer >> 2, (scopeBuffer >> 2) + 2 * SCOPE_FRAMES);
        const points = new Float32Array(SCOPE_POINTS);
        const stride = SCOPE_FRAMES / SCOPE_POINTS;
        for (let k = 0; k < SCOPE_POINTS; ++k) {
          points[k] = (frames[2 * k * stride] + frames[2 * k * stride + 1]) * 0.5;
        }
        scopes.push(points);
        M._brom_get_channel_state(handle, c, record);
        const note = M.HEAP32[record >> 2];
        const instrument = M.HEAP32[(record >> 2) + 1];
        notes.push(note ? noteName(note) + " " + String(instrument).padStart(2, "0") : "");
      }
      return { scopes: scopes, notes: notes };
    }

    // A canvas in each channel's box, between its number and its meters.
    function showSong(channelBoxes) {
      canvases = [...channelBoxes].map((box) => {
        const canvas = document.createElement("canvas");
        canvas.className = "scope";
        canvas.width = 96;
        canvas.height = 32;
        box.insertBefore(canvas, box.querySelector(".meters"));
        return canvas;
      });
      pattern.number = -1;
      drawn = null;
    }

    function drawScope(canvas, points, note) {
      const context = canvas.getContext("2d");
      const width = canvas.width;
      const middle = canvas.height / 2;
      context.clearRect(0, 0, width, canvas.height);
      context.fillStyle = "#5a6070";
      context.font = "9px monospace";
      if (note) context.fillText(note, 2, 9);
      context.strokeStyle = "#6fcf7f";
      context.lineWidth = 1;
      context.beginPath();
      for (let k = 0; k < points.length; ++k) {
        const value = Math.max(-1, Math.min(1, points[k] * SCOPE_GAIN));
        // Half a pixel off the grid: a flat line is one row of pixels.
        const y = Math.round(middle - value * (middle - 1)) - 0.5;
        const x = (k * (width - 1)) / (points.length - 1);
        if (k === 0) context.moveTo(x, y);
        else context.lineTo(x, y);
      }
      context.stroke();
    }

    // The pattern's rows as lines of markup, the row number first, and the header of channel
    // numbers over the cells.
    function buildPattern(view, handle, number, channels) {
      const rows = [];
      const count = M._brom_pattern_rows(handle, number);
      for (let row = 0; row < count; ++row) {
        let line = String(row).padStart(3, " ");
        for (let c = 0; c < channels; ++c) {
          line += SEPARATOR + cellMarkup(cellText(handle, number, row, c));
        }
        rows.push('<div class="line">' + line + "</div>");
      }
      let header = "   ";
      for (let c = 0; c < channels; ++c) {
        header += SEPARATOR + String(c + 1).padEnd(cellText(handle, number, 0, c).length || 3, " ");
      }
      view.querySelector(".header").textContent = header;
      view.querySelector(".rows").innerHTML = rows.join("");
      pattern.number = number;
      pattern.shown = -1;
    }

    // The whole pattern is laid out once; a new row only slides it (a transform, no layout) so
    // that the row heard sits in the middle, and moves the mark.
    function showPattern(handle, channels, at) {
      const view = document.getElementById("pattern-view");
      if (!view) return;
      if (pattern.number !== at.pattern) buildPattern(view, handle, at.pattern, channels);
      if (pattern.shown === at.row) return;
      const lines = view.querySelector(".rows").children;
      if (lines[pattern.shown]) lines[pattern.shown].classList.remove("playing");
      if (lines[at.row]) lines[at.row].classList.add("playing");
      pattern.shown = at.row;
      view.dataset.row = at.row;
      const middle = (PATTERN_ROWS - 1) / 2;
      view.querySelector(".rows").style.transform =
        "translateY(" + (middle - at.row) * LINE_PIXELS + "px)";
    }

    // Draws what is heard: `at` is the mark of the step being heard, with its capture. The scopes
    // are drawn at most SCOPE_RATE times a second, a silent channel's once until it sounds.
    function show(handle, channels, at) {
      showPattern(handle, channels, at);
      const now = performance.now();
      if (!at.views || at.views === drawn || now - drawnAt < 1000 / SCOPE_RATE) return;
      drawn = at.views;
      drawnAt = now;
      canvases.forEach((canvas, c) => {
        const points = at.views.scopes[c];
        const note = at.views.notes[c];
        const flat = points.every((value) => value === 0);
        if (flat && canvas.dataset.flat === note) return;
        canvas.dataset.flat = flat ? note : "-";
        drawScope(canvas, points, note);
      });
    }

    return {
      prepare: (handle) => M._brom_set_scope_frames(handle, SCOPE_FRAMES),
      capture: capture,
      showSong: showSong,
      show: show,
    };
  }

  return { create: create };
})();
