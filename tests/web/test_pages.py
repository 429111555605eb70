"""The web pages in a real browser: headless Chromium, driven through chromedriver, against the
site served from 127.0.0.1 by `python3 -m http.server`.

    tests/web/test_pages.py SITE NATIVE_BUILD OUT_DIR [unittest options, e.g. -k Player]

SITE is the built site (build-web/), NATIVE_BUILD a native build with brom-play and the demo's
check-screenshot, OUT_DIR where screenshots go. tools/check-web runs it. Every wait is for a
condition, with a generous deadline, so that a busy machine only makes it slower. The player's
check of its WAV file prints how fast the page rendered it.
"""

import base64
import hashlib
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

SITE, NATIVE, OUT = sys.argv[1:4]
SONG = os.path.join(SITE, "brom-boogie.xm")
DEADLINE = 120  # seconds for any one condition
CHROMIUM_FLAGS = (
    "--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
    "--disable-background-networking --disable-component-update --disable-sync "
    "--window-size=960,600 --force-device-scale-factor=1 --force-color-profile=srgb"
).split()


def wait_for(what, condition, deadline=DEADLINE):
    """Polls `condition` until it returns something true, which it returns; fails at the deadline."""
    end = time.monotonic() + deadline
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > end:
            raise AssertionError("waited %d s for %s" % (deadline, what))
        time.sleep(0.2)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server():
    port = free_port()
    server = subprocess.Popen(
        [sys.executable, "-m", "http.server", "--bind", "127.0.0.1", str(port)],
        cwd=SITE,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    base = "http://127.0.0.1:%d/" % port

    def answers():
        try:
            return urllib.request.urlopen(base + "demo.html", timeout=5).status == 200
        except OSError:
            return False

    wait_for("the web server", answers)
    return server, base


def start_browser():
    options = Options()
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument("--user-data-dir=" + tempfile.mkdtemp(prefix="brom-chromium-"))
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(DEADLINE)
    return driver


def native_wav(song=SONG, options=()):
    """The song as `brom-play --render` writes it: a WAV file of 16-bit stereo frames."""
    wav = os.path.join(tempfile.mkdtemp(prefix="brom-render-"), "song.wav")
    brom_play = os.path.join(NATIVE, "tools", "brom-play", "brom-play")
    subprocess.run([brom_play, "--render", wav, *options, song], check=True)
    with open(wav, "rb") as f:
        return f.read()


def native_render():
    """The song's samples as `brom-play --render` writes them: 16-bit stereo, interleaved."""
    data = native_wav()[44:]
    return struct.unpack("<%dh" % (len(data) // 2), data)


def songs_xm(jumps):
    """An XM of one 16-row pattern per order position at speed 3 and no instruments, where
    jumps[k] >= 0 puts a position jump to that order on order k's last row."""
    count = len(jumps)
    head = b"Extended Module: " + b"songs".ljust(20, b"\0") + b"\x1a" + b"test".ljust(20, b"\0")
    head += struct.pack("<HIHHHHHHHH", 0x0104, 276, count, 0, 2, count, 0, 1, 3, 125)
    head += bytes(range(count)).ljust(256, b"\0")
    for jump in jumps:
        cells = bytearray(16 * 2 * 5)
        if jump >= 0:
            cells[-5:] = bytes([0, 0, 0, 0xB, jump])
        head += struct.pack("<IBHH", 9, 0, 16, len(cells)) + cells
    return head


def song_title():
    """The title as the file holds it: 20 bytes at 17, control bytes as spaces, trailing ones off."""
    with open(SONG, "rb") as f:
        field = f.read(37)[17:]
    return "".join(chr(b) if b >= 32 else " " for b in field).rstrip()


def page_api(driver, call):
    """Runs `call` (JavaScript, with the page API as `api`) once window.bromReady resolves."""
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "window.bromReady.then(async (api) => done(await (%s)), (e) => done({error: String(e)}));"
        % call
    )


def check_position_moves(test, driver):
    """A second of the song is heard, and the song goes forward."""
    position = lambda: page_api(driver, "api.position()")
    first = position()
    wait_for("the position to move", lambda: position()["timeMs"] > first["timeMs"] + 1000)
    later = position()
    test.assertGreaterEqual((later["order"], later["row"]), (first["order"], first["row"]))


CANVAS_PIXELS = """
const canvas = document.getElementById("screen");
const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
let text = "";
for (let i = 0; i < data.length; i += 4)
  text += String.fromCharCode(data[i], data[i + 1], data[i + 2]);
return [canvas.width, canvas.height, btoa(text)];
"""


SCOPE_ROWS = """
return [...document.querySelectorAll("#channels canvas.scope")].map((canvas) => {
  const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
  const rows = new Set();
  for (let i = 0; i < data.length; i += 4)
    if (data[i + 3] > 64 && data[i + 1] > 150) rows.add(Math.floor(i / 4 / canvas.width));
  return rows.size;
});
"""


class PageTest(unittest.TestCase):
    """One site server per class of tests, a fresh browser per test."""

    @classmethod
    def setUpClass(cls):
        cls.server, cls.base = start_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait()

    def setUp(self):
        self.driver = start_browser()

    def tearDown(self):
        self.driver.quit()


class DemoPage(PageTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.render = native_render()

    def position(self):
        return page_api(self.driver, "api.position()")

    def check_ppm(self, name, width, height, rgb):
        """Runs the native demo's screenshot check on a picture; its exit status."""
        path = os.path.join(OUT, name)
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (width, height) + rgb)
        checker = os.path.join(NATIVE, "tests", "demo", "check-screenshot")
        return subprocess.run([checker, path], capture_output=True).returncode

    def canvas_shows_scene(self):
        width, height, rgb = self.driver.execute_script(CANVAS_PIXELS)
        # 3: a frame of the scene, but too early to show the scroll text yet.
        return self.check_ppm("demo-canvas.ppm", width, height, base64.b64decode(rgb)) == 0

    def screen_shows_scene(self):
        """The page as a person sees it: the canvas scaled to the window, aspect kept."""
        png = os.path.join(OUT, "demo.png")
        self.driver.save_screenshot(png)
        ppm = os.path.join(OUT, "demo-screen.ppm")
        subprocess.run(["convert", png, ppm], check=True)
        checker = os.path.join(NATIVE, "tests", "demo", "check-screenshot")
        return subprocess.run([checker, ppm], capture_output=True).returncode == 0

    def start_sound(self):
        state = page_api(self.driver, "api.audioState()")
        self.assertNotEqual(state, "running", "the sound started before any click or key")
        self.driver.find_element(By.ID, "screen").click()
        wait_for("a running AudioContext", lambda: page_api(self.driver, "api.audioState()") == "running")

    def check_samples(self):
        """The next frames leaving the device are the native render's, exactly."""
        frames = 4096
        captured = page_api(self.driver, "api.captureAudio(%d).then((c) => [c.startFrame, Array.from(c.samples)])" % frames)
        start, samples = captured
        expected = self.render[2 * start : 2 * (start + frames)]
        self.assertEqual(len(expected), 2 * frames, "captured past the song's end")
        got = [round(s * 32768) for s in samples]
        wrong = [i for i in range(2 * frames) if got[i] != expected[i]]
        self.assertFalse(wrong, "from frame %d on, %d of %d samples differ from brom-play --render, "
                         "the first at frame %d" % (start, len(wrong), 2 * frames, start + wrong[0] // 2 if wrong else 0))

    def check_position_moves(self):
        check_position_moves(self, self.driver)

    def test_demo_shows_the_scene_and_plays_the_song(self):
        self.driver.get(self.base + "demo.html")
        self.start_sound()
        self.assertEqual(page_api(self.driver, "api.audioPath()"), "worklet")
        self.check_position_moves()
        self.check_samples()
        wait_for("the scene on the canvas", self.canvas_shows_scene)
        wait_for("the scene on the screen", self.screen_shows_scene)

    def test_demo_plays_through_a_script_processor(self):
        self.driver.get(self.base + "demo.html?audio=script")
        self.start_sound()
        self.assertEqual(page_api(self.driver, "api.audioPath()"), "script")
        self.check_position_moves()
        self.check_samples()

    def test_demo_full_screen_on_f_and_out_on_escape(self):
        self.driver.get(self.base + "demo.html")
        page_api(self.driver, "api.audioState()")
        full_screen = "return document.fullscreenElement ? document.fullscreenElement.id : ''"
        ActionChains(self.driver).send_keys("f").perform()
        wait_for("full screen", lambda: self.driver.execute_script(full_screen) == "screen")
        # A key counts as the gesture that starts the sound, as a click does.
        wait_for("a running AudioContext", lambda: page_api(self.driver, "api.audioState()") == "running")
        ActionChains(self.driver).send_keys(Keys.ESCAPE).perform()
        wait_for("the end of full screen", lambda: self.driver.execute_script(full_screen) == "")
        # Escape leaves full screen only: the demo goes on.
        self.check_position_moves()


# Keeps, for the checks, the frames the player page queues for its audio worklet (the messages
# described in web/player-audio.js), before any script of the page runs.
RECORD_QUEUED_FRAMES = """
window.queuedFrames = [];
const post = MessagePort.prototype.postMessage;
MessagePort.prototype.postMessage = function (message, transfer) {
  if (message && message.kind === "replace") window.queuedFrames = [];
  if (message && (message.kind === "replace" || message.kind === "append"))
    window.queuedFrames.push(...message.samples);
  return post.call(this, message, transfer);
};
"""

WAV_IN_THE_PAGE = """
const start = performance.now();
const wav = new Uint8Array(await api.renderWav("brom-boogie.xm"));
const seconds = (performance.now() - start) / 1000;
const hash = new Uint8Array(await crypto.subtle.digest("SHA-256", wav));
return {length: wav.length, seconds: seconds,
        sha256: Array.from(hash, (b) => b.toString(16).padStart(2, "0")).join("")};
"""


class PlayerPage(PageTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.wav = native_wav()

    def open(self, query=""):
        self.driver.get(self.base + "player.html" + query)
        page_api(self.driver, "api.audioState()")

    def click(self, button):
        self.driver.find_element(By.ID, button).click()

    def position(self):
        return page_api(self.driver, "api.position()")

    def play(self):
        self.assertEqual(page_api(self.driver, "api.audioState()"), "suspended")
        self.click("play")
        wait_for("a running AudioContext", lambda: page_api(self.driver, "api.audioState()") == "running")

    def test_player_shows_the_song_and_plays_it(self):
        self.driver.set_window_size(960, 760)  # the whole page, for the screenshot below
        self.open("?song=brom-boogie.xm")
        self.assertEqual(self.driver.find_element(By.ID, "title").text, song_title())
        self.play()
        self.assertEqual(page_api(self.driver, "api.audioPath()"), "worklet")
        check_position_moves(self, self.driver)
        self.driver.save_screenshot(os.path.join(OUT, "player.png"))

    def test_player_plays_through_a_script_processor(self):
        self.open("?audio=script")
        self.play()
        self.assertEqual(page_api(self.driver, "api.audioPath()"), "script")
        check_position_moves(self, self.driver)

    def test_player_controls_move_the_song_and_mute_it(self):
        # Paused, nothing is heard: the position is where the controls put the song, exactly.
        self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": RECORD_QUEUED_FRAMES})
        self.open()
        self.click("next")
        self.click("next")
        self.click("previous")
        at = self.position()
        self.assertEqual((at["order"], at["row"]), (1, 0))
        seek = "const bar = document.getElementById('seek'); bar.value = 60000; bar.dispatchEvent(new Event('change'));"
        self.driver.execute_script(seek)
        self.assertEqual(self.position()["timeMs"], 60000)
        queued = "return window.queuedFrames.some((sample) => sample !== 0)"
        self.assertTrue(self.driver.execute_script(queued), "nothing heard a minute into the song")
        for channel in self.driver.find_elements(By.CSS_SELECTOR, "#channels input"):
            channel.click()
        self.driver.execute_script(seek)
        self.assertFalse(self.driver.execute_script(queued), "sound with every channel muted")

    def state(self):
        return page_api(self.driver, "api.state()")

    def test_player_keys_act_as_brom_plays_and_keep_the_clock_true(self):
        self.open()
        body = self.driver.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.ARROW_RIGHT, Keys.ARROW_RIGHT)
        at = self.position()
        self.assertEqual((at["order"], at["row"]), (2, 0))
        # The clock tells the time of the order, as one pass from the start reaches it.
        # (Times in whole milliseconds become frames and back: a millisecond may be lost.)
        self.assertLessEqual(abs(at["timeMs"] - page_api(self.driver, "api.orderTimeMs(2)")), 1)
        body.send_keys(Keys.ARROW_DOWN)
        self.assertLessEqual(abs(self.position()["timeMs"] - at["timeMs"] - 10000), 1)
        body.send_keys("++-+", "l", "2", "3", "3")
        state = self.state()
        self.assertEqual((state["gainDb"], state["loop"], state["muted"]), (2, True, [1]))
        boxes = self.driver.find_elements(By.CSS_SELECTOR, "#channels input")
        self.assertEqual([box.is_selected() for box in boxes[:3]], [True, False, True])
        body.send_keys("!", "h")
        self.assertEqual(self.state()["muted"], [])
        self.assertTrue(self.driver.find_element(By.ID, "keys").is_displayed())
        self.driver.execute_script(
            "const s = document.getElementById('stereo'); s.value = 40; s.dispatchEvent(new Event('input'));")
        self.assertEqual(self.state()["stereo"], 40)

    def test_player_plays_a_playlist_one_file_after_the_other(self):
        self.open()
        loading = page_api(self.driver, """(async () => {
            const list = api.loadList(["brom-boogie.xm", "brom-boogie.xm"]);
            const during = api.state().loading && document.body.classList.contains("loading");
            await list;
            return [during, api.state().loading, api.state().files];
        })()""")
        self.assertEqual(loading, [True, False, 2])
        self.assertEqual(len(self.driver.find_elements(By.CSS_SELECTOR, "#playlist li")), 2)
        end = int(self.driver.find_element(By.ID, "seek").get_attribute("max"))
        page_api(self.driver, "api.seek(%d)" % (end - 300))
        self.play()
        wait_for("the second file", lambda: self.state()["file"] == 1)
        wait_for("the second file playing", lambda: 0 < self.position()["timeMs"] < 20000)
        self.assertEqual(page_api(self.driver, "api.audioState()"), "running")

    def test_player_chooses_among_the_songs_of_a_file(self):
        # Orders 0-1, 2 and 3-4 each loop on themselves: three songs of 2, 1 and 2 patterns.
        name = "three-songs-%d.xm" % os.getpid()
        path = os.path.join(SITE, name)
        with open(path, "wb") as f:
            f.write(songs_xm([-1, 0, 2, -1, 3]))
        self.addCleanup(os.remove, path)
        self.open("?song=" + name)
        choice = self.driver.find_element(By.ID, "subsong")
        self.assertTrue(choice.is_displayed())
        self.assertEqual(len(choice.find_elements(By.TAG_NAME, "option")), 4)
        body = self.driver.find_element(By.TAG_NAME, "body")
        body.send_keys(">")  # from the first song, which the whole list starts with
        self.assertEqual((self.state()["song"], self.position()["order"]), (1, 2))
        self.assertEqual(choice.get_attribute("value"), "1")
        self.assertEqual(self.driver.find_element(By.ID, "seek").get_attribute("max"), "960")
        body.send_keys(">", ">")  # the last stays
        self.assertEqual((self.state()["song"], self.position()["order"]), (2, 3))
        self.click("fade")
        self.assertTrue(self.state()["fade"])

    def test_player_keeps_its_layout_in_a_narrow_window(self):
        self.driver.set_window_size(400, 800)
        self.open()
        layout = self.driver.execute_script("""
            const channels = [...document.querySelectorAll("#channels .channel")];
            const names = getComputedStyle(document.getElementById("instruments"));
            return {columns: new Set(channels.map((c) => c.offsetLeft)).size,
                    wide: document.documentElement.scrollWidth > document.documentElement.clientWidth,
                    font: names.fontFamily, space: names.whiteSpace};""")
        self.assertGreaterEqual(layout["columns"], 2)
        self.assertFalse(layout["wide"], "the page scrolls sideways")
        self.assertIn("monospace", layout["font"])
        self.assertEqual(layout["space"], "pre")
        self.driver.save_screenshot(os.path.join(OUT, "player-narrow.png"))

    def scope_rows(self):
        """For each channel's scope, the rows of pixels its line touches: 1 for a flat line."""
        return self.driver.execute_script(SCOPE_ROWS)

    def test_player_draws_scopes_and_marks_the_row_heard(self):
        self.driver.set_window_size(960, 1000)  # the whole page, for the screenshot below
        self.open()
        self.driver.find_elements(By.CSS_SELECTOR, "#channels input")[1].click()  # channel 2 muted
        page_api(self.driver, "api.seek(45000)")  # where most channels play
        self.play()
        wait_for("scopes drawing waves", lambda: sum(rows > 3 for rows in self.scope_rows()) >= 3)
        self.driver.save_screenshot(os.path.join(OUT, "player-scopes.png"))
        rows = self.scope_rows()
        self.assertEqual(rows[1], 1, "the muted channel's scope is not a flat line: %s" % rows)
        # Paused, what is heard stands still: the marked row is the row position() reports.
        self.click("play")
        wait_for("a suspended AudioContext", lambda: page_api(self.driver, "api.audioState()") == "suspended")
        time.sleep(0.5)
        at = self.position()
        marked = self.driver.find_element(By.CSS_SELECTOR, "#pattern-view .playing").text
        self.assertEqual(int(marked.split()[0]), at["row"])
        cell = r"[A-G.=][-#.=][0-9.=] [0-9A-F.]{2} \S{2} [0-9A-Z.][0-9A-F.]{2}"
        self.assertRegex(marked, r"^ *\d+( \| %s)+$" % cell)

    def test_player_shows_32_channels_and_says_how_it_kept_up(self):
        mod = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "mod-32ch.mod")
        with open(mod, "rb") as f:
            url = "data:application/octet-stream;base64," + base64.b64encode(f.read()).decode()
        self.open()
        page_api(self.driver, "api.load('%s')" % url)
        self.click("loop")
        self.play()
        seconds = 8  # a pass and more, with the scopes and the pattern view drawing
        time.sleep(seconds)
        gaps = page_api(self.driver, "api.audioGaps()")
        self.assertEqual(len(self.scope_rows()), 32)
        marked = self.driver.find_element(By.CSS_SELECTOR, "#pattern-view .playing").text
        self.assertEqual(marked.count("|"), 32, marked)
        # A figure for the note, not a check: a busy machine may drop sound where a quiet one does not.
        print("\nweb player, 32 channels with scopes and pattern view: %d dropouts in %d s"
              % (gaps, seconds), file=sys.stderr)

    def test_player_renders_the_wav_file_brom_play_renders(self):
        self.open()
        got = page_api(self.driver, "(async () => {%s})()" % WAV_IN_THE_PAGE)
        self.assertEqual(got["length"], len(self.wav))
        self.assertEqual(got["sha256"], hashlib.sha256(self.wav).hexdigest())
        song_seconds = (len(self.wav) - 44) / 4 / 44100
        print("\nweb render: %.1f s of song in %.2f s, %.0f x real time"
              % (song_seconds, got["seconds"], song_seconds / got["seconds"]), file=sys.stderr)

    def test_player_saves_with_the_resampling_and_amiga_sound_chosen(self):
        self.open()
        self.assertIsNone(self.state()["amiga"], "the Amiga's sound offered for an XM")
        mod = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "mod-effect-3.mod")
        with open(mod, "rb") as f:
            url = "data:application/octet-stream;base64," + base64.b64encode(f.read()).decode()
        choose = "const s = document.getElementById('%s'); s.value = '%d'; s.dispatchEvent(new Event('change'));"
        render = ("api.renderWav('%s').then((wav) => crypto.subtle.digest('SHA-256', wav))"
                  ".then((hash) => Array.from(new Uint8Array(hash), (b) => b.toString(16).padStart(2, '0')).join(''))")
        for menu, value, options in (("interpolation", 2, ["--interpolation", "cubic"]),
                                     ("amiga", 1, ["--amiga", "a500"])):
            self.driver.execute_script(choose % (menu, value))
            self.assertEqual(page_api(self.driver, render % url),
                             hashlib.sha256(native_wav(mod, options)).hexdigest(), " ".join(options))


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    result = unittest.main(argv=sys.argv[:1] + sys.argv[4:], exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed or not result.testsRun else 0)
