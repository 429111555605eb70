// The browser side of the canvas display back end (display_canvas.h), linked into the page's
// script with --js-library: the canvas and its ImageData, full screen, and the events that the
// display's rules hear about (activation when the page is hidden or shown again).
mergeInto(LibraryManager.library, {
  $BromCanvas: {
    canvas: null,
    context: null,
    image: null,
    events: [], // packed as bromCanvasNextEvent returns them
    listeners: [], // [target, kind, handler], to remove on close

    listen: function (target, kind, handler) {
      target.addEventListener(kind, handler);
      BromCanvas.listeners.push([target, kind, handler]);
    },

    pushActivation: function () {
      var ACTIVATE = 1;
      BromCanvas.events.push((ACTIVATE << 24) | (document.visibilityState === "hidden" ? 0 : 1));
    },

    toggleFullScreen: function () {
      if (document.fullscreenElement) document.exitFullscreen();
      else if (BromCanvas.canvas) BromCanvas.canvas.requestFullscreen();
    },

    onKey: function (event) {
      if (event.key === "f" || event.key === "F") BromCanvas.toggleFullScreen();
      // The browser leaves full screen on Escape by itself; this covers pages that kept the key.
      if (event.key === "Escape" && document.fullscreenElement) document.exitFullscreen();
    },
  },

  bromCanvasOpen__deps: ["$BromCanvas"],
  bromCanvasOpen: function (width, height) {
    var canvas = Module["canvas"] || document.getElementById("screen");
    if (!canvas || !canvas.getContext) return 0;
    canvas.width = width;
    canvas.height = height;
    BromCanvas.canvas = canvas;
    BromCanvas.context = canvas.getContext("2d");
    BromCanvas.image = BromCanvas.context.createImageData(width, height);
    BromCanvas.events = [];
    BromCanvas.pushActivation();
    BromCanvas.listen(document, "visibilitychange", BromCanvas.pushActivation);
    BromCanvas.listen(canvas, "dblclick", BromCanvas.toggleFullScreen);
    BromCanvas.listen(window, "keydown", BromCanvas.onKey);
    Module["canvasFullScreen"] = BromCanvas.toggleFullScreen;
    return 1;
  },

  bromCanvasNextEvent__deps: ["$BromCanvas"],
  bromCanvasNextEvent: function () {
    return BromCanvas.events.length ? BromCanvas.events.shift() : 0;
  },

  bromCanvasShow__deps: ["$BromCanvas"],
  bromCanvasShow: function (pixels) {
    var image = BromCanvas.image;
    image.data.set(HEAPU8.subarray(pixels, pixels + image.data.length));
    BromCanvas.context.putImageData(image, 0, 0);
  },

  bromCanvasClose__deps: ["$BromCanvas"],
  bromCanvasClose: function () {
    BromCanvas.listeners.forEach(function (entry) {
      entry[0].removeEventListener(entry[1], entry[2]);
    });
    BromCanvas.listeners = [];
    BromCanvas.events = [];
    BromCanvas.canvas = null;
    BromCanvas.context = null;
  },
});
