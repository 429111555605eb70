"""The npm package (js/, placed in the site as brom-player/) in headless Chromium: its Player's
AudioWorklet renders exactly the frames of `brom-play --render --float` (in an
OfflineAudioContext, where every frame can be read), and plays on a live AudioContext with the
position, order jumps and the end reported as events.

    tests/web/test_package.py SITE NATIVE_BUILD OUT_DIR     (tools/check-web runs it)
"""

import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

from selenium.webdriver.common.by import By

from test_pages import NATIVE, OUT, SONG, PageTest

SECONDS = 3

OFFLINE_RENDER = """
const { Player, loadModule } = await import("/brom-player/index.js");
const bytes = await (await fetch("/brom-boogie.xm")).arrayBuffer();
const context = new OfflineAudioContext(2, %d * 44100, 44100);
const player = await Player.create(context, bytes, { autoplay: true });
let positions = 0;
player.addEventListener("position", () => ++positions);
const buffer = await context.startRendering();
const left = buffer.getChannelData(0), right = buffer.getChannelData(1);
const frames = new Float32Array(2 * buffer.length);
for (let k = 0; k < buffer.length; ++k) { frames[2 * k] = left[k]; frames[2 * k + 1] = right[k]; }
const hex = async (data) => Array.from(new Uint8Array(await crypto.subtle.digest("SHA-256", data)),
    (b) => b.toString(16).padStart(2, "0")).join("");
const wav = (await loadModule(bytes)).renderWav();
return { sha256: await hex(frames), positions, wav: await hex(wav), title: player.module.title };
"""

LIVE_PLAYER = """
const { Player } = await import("/brom-player/index.js");
const bytes = await (await fetch("/brom-boogie.xm")).arrayBuffer();
const context = new AudioContext();
const player = await Player.create(context, bytes);
const next = (type, test = () => true) => new Promise((resolve) => {
  const listen = (event) => { if (test(event.detail)) { player.removeEventListener(type, listen); resolve(event.detail); } };
  player.addEventListener(type, listen);
});
await player.play();
const moved = await next("position", (p) => p.timeMs > 1000);
player.seekOrder(3, 0);
const jumped = await next("position", (p) => p.order === 3);
player.volume = 0.5;
player.seek(player.module.durationMs / 1000 - 0.5);
await next("end");
return { state: context.state, moved: moved.timeMs, jumped: [jumped.order, jumped.row], ended: player.ended };
"""


def run_async(driver, body):
    return driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "(async () => {%s})().then(done, (e) => done({error: String(e)}));" % body
    )


def native_bytes(*options):
    """The data of `brom-play --render` with these options, and the whole file."""
    wav = os.path.join(tempfile.mkdtemp(prefix="brom-render-"), "song.wav")
    brom_play = os.path.join(NATIVE, "tools", "brom-play", "brom-play")
    subprocess.run([brom_play, "--render", wav, *options, SONG], check=True)
    with open(wav, "rb") as f:
        return f.read()


class NpmPackage(PageTest):
    def open(self):
        self.driver.get(self.base + "brom-player/")  # a page of the site's origin

    def test_worklet_renders_the_frames_brom_play_renders(self):
        self.open()
        got = run_async(self.driver, OFFLINE_RENDER % SECONDS)
        self.assertNotIn("error", got)
        floats = native_bytes("--float", "--seconds", str(SECONDS))[58:]
        self.assertEqual(got["sha256"], hashlib.sha256(floats).hexdigest())
        self.assertEqual(got["wav"], hashlib.sha256(native_bytes()).hexdigest())
        # One every 1024 frames; the last few may still be on their way when the render ends.
        self.assertGreaterEqual(got["positions"], SECONDS * 44100 // 1024 // 2)
        self.assertTrue(got["title"])

    def test_player_plays_jumps_and_ends(self):
        self.open()
        self.driver.find_element(By.TAG_NAME, "body").click()  # browsers start sound after a gesture
        got = run_async(self.driver, LIVE_PLAYER)
        self.assertNotIn("error", got)
        self.assertEqual(got["state"], "running")
        self.assertGreater(got["moved"], 1000)
        self.assertEqual(got["jumped"], [3, 0])
        self.assertTrue(got["ended"])


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    result = unittest.main(argv=sys.argv[:1] + sys.argv[4:], exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print("%d passed, %d failed" % (result.testsRun - failed, failed))
    sys.exit(1 if failed or not result.testsRun else 0)
