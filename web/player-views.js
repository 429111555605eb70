// The player page's views of what plays (web/player.js uses them): an oscilloscope per channel,
// beside its mute box, and the pattern view, the rows around the one playing.
//
// The scopes draw each channel's own signal as the library keeps it (brom_set_scope_frames,
// brom_channel_scope) and what the channel plays (brom_get_channel_state): the page captures
// them with every step it renders, beside the position, and draws the capture of the step being
// heard; a muted channel's signal is silence, a flat line. The pattern view shows the cells in
// the format's own notation (brom_cell_text), built once per pattern; it redraws only when the
// row heard changes, and scrolls sideways when the channels do not fit.
"use strict";
const BromViews = (function () {
  const SCOPE_FRAMES = 512; // the signal a scope shows, about 12 ms
  const SCOPE_POINTS = 128; // of which it draws every fourth frame
  const SCOPE_GAIN = 3; // a channel seldom reaches full scale alone
  const CAPTURE_FRAMES = 768; // frames between two captures: about one a screen frame
  const PATTERN_ROWS = 17; // the row heard in the middle
  const NOTES = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"];
  const FIELDS = ["note", "instrument", "volume", "effect"];
  const SEPARATOR = ' <span class="empty">|</span> ';

  function noteName(note) {
    return note >= 1 && note <= 120 ? NOTES[(note - 1) % 12] + Math.floor((note - 1) / 12) : "";
  }

  // A cell's text as spans, one per field; fields of dots dim.
  function cellMarkup(text) {
    const fields = text.split(" ");
    return fields
      .map((field, i) => {
        const kind = /^\.+$/.test(field) ? "empty" : FIELDS[i === fields.length - 1 ? 3 : i];
        return '<span class="' + kind + '">' + field + "</span>";
      })
      .join(" ");
  }

  function create(M) {
    const scopeBuffer = M._malloc(SCOPE_FRAMES * 8);
    const record = M._malloc(64);
    const textBuffer = M._malloc(32);
    const pattern = { number: -1, rows: [], shown: "" }; // the rows' markup, the row shown
    let canvases = [];
    let drawn = null; // the capture drawn last
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

    // Rows of the pattern as markup, the row number first.
    function patternRows(handle, number, channels) {
      const rows = [];
      const count = M._brom_pattern_rows(handle, number);
      for (let row = 0; row < count; ++row) {
        let line = '<span class="row-number">' + String(row).padStart(3, " ") + "</span>";
        for (let c = 0; c < channels; ++c) {
          line += SEPARATOR + cellMarkup(cellText(handle, number, row, c));
        }
        rows.push(line);
      }
      return rows;
    }

    function showPattern(handle, channels, at) {
      const view = document.getElementById("pattern-view");
      if (!view) return;
      if (pattern.number !== at.pattern) {
        pattern.number = at.pattern;
        pattern.rows = patternRows(handle, at.pattern, channels);
        pattern.shown = "";
        let header = '<span class="row-number">   </span>';
        for (let c = 0; c < channels; ++c) {
          const width = cellText(handle, at.pattern, 0, c).length || 3;
          header += " | " + String(c + 1).padEnd(width, " ");
        }
        view.querySelector(".header").innerHTML = header;
        if (view.querySelectorAll(".line").length !== PATTERN_ROWS) {
          const lines = view.querySelector(".lines");
          lines.replaceChildren();
          for (let k = 0; k < PATTERN_ROWS; ++k) {
            const line = document.createElement("div");
            line.className = "line" + (k === (PATTERN_ROWS - 1) / 2 ? " playing" : "");
            lines.appendChild(line);
          }
        }
      }
      const key = at.pattern + ":" + at.row;
      if (pattern.shown === key) return;
      pattern.shown = key;
      view.dataset.row = at.row;
      view.querySelectorAll(".line").forEach((line, k) => {
        const row = at.row - (PATTERN_ROWS - 1) / 2 + k;
        line.innerHTML = pattern.rows[row] || "";
      });
    }

    // Draws what is heard: `at` is the mark of the step being heard, with its capture.
    function show(handle, channels, at) {
      showPattern(handle, channels, at);
      if (!at.views || at.views === drawn) return;
      drawn = at.views;
      canvases.forEach((canvas, c) => drawScope(canvas, at.views.scopes[c], at.views.notes[c]));
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
