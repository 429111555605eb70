// The npm package in Node.js against brom-play: the same settings give the same bytes.
//   BROM_PLAY=.../brom-play BROM_SONG=song.xm node --test     (from a project with brom-player)
import { test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { BromError, loadModule } from "brom-player";

const BROM_PLAY = process.env.BROM_PLAY;
const SONG = process.env.BROM_SONG;
const bytes = readFileSync(SONG);

function bromPlay(...options) {
  const out = join(mkdtempSync(join(tmpdir(), "brom-node-")), "out.wav");
  execFileSync(BROM_PLAY, ["--render", out, ...options, SONG]);
  return readFileSync(out);
}

test("renderWav writes the file brom-play --render writes", async () => {
  const song = await loadModule(bytes);
  assert.ok(Buffer.from(song.renderWav()).equals(bromPlay()));
});

test("settings, seeks and floats render as brom-play's options do", async () => {
  const cases = [
    [["--rate", "48000", "--mute", "2,4", "--gain", "-3.5", "--stereo", "40", "--seconds", "20"],
      (s) => { s.sampleRate = 48000; s.mute(1); s.mute(3); s.gainDb = -3.5; s.stereo = 40; }, 20],
    [["--seek", "62.25", "--repeat", "1"], (s) => { s.repeat = 1; s.seek(62.25); }, 0],
    [["--start", "3:16", "--seconds", "10"], (s) => s.seekOrder(3, 16), 10],
    [["--profile", "ft2", "--interpolation", "sinc", "--seconds", "10"],
      (s) => { s.profile = "ft2"; s.interpolation = "sinc"; }, 10],
    [["--end", "fade:3", "--seek", "1:50"], (s) => { s.setEnd("fade", 3000); s.seek(110); }, 0],
  ];
  for (const [options, apply, seconds] of cases) {
    const song = await loadModule(new Uint8Array(bytes));
    apply(song);
    const expected = bromPlay("--float", ...options).subarray(58);
    const frames = new Float32Array(seconds ? 2 * seconds * song.sampleRate : expected.length / 4);
    assert.equal(song.render(frames), frames.length / 2, options.join(" "));
    assert.ok(Buffer.from(frames.buffer).equals(expected), options.join(" "));
    assert.equal(song.render(new Float32Array(2)), seconds ? 1 : 0);
    song.free();
  }
});

test("what the file holds, and the library's reasons for refusing one", async () => {
  const song = await loadModule(bytes);
  const info = JSON.parse(execFileSync(BROM_PLAY, ["--info", "--json", SONG]));
  assert.equal(song.title, info.title);
  assert.equal(song.tracker, info.tracker);
  assert.equal(song.durationMs, info.duration_ms);
  assert.deepEqual(song.orders, info.orders);
  assert.deepEqual(song.instrumentNames, info.instruments.map((i) => i.name));
  await assert.rejects(loadModule(bytes.subarray(0, 60)), (e) =>
    e instanceof BromError && e.code === "truncated" && e.reason === "the file ends inside its header");
  await assert.rejects(loadModule(new Uint8Array(100)), (e) => e instanceof BromError && e.code === "format");
  assert.throws(() => { song.sampleRate = 5; }, BromError);
});

test("stems add up to the mix; subsongs, the Amiga's sound and channels", async () => {
  const song = await loadModule(bytes);
  const frames = 3 * 44100;
  const { mix, stems } = song.renderStems(frames, "channel");
  const expected = new Float32Array(2 * frames);
  (await loadModule(bytes)).render(expected);
  assert.deepEqual(mix, expected);
  assert.equal(stems.length, song.channels);
  let worst = 0;
  for (let k = 0; k < mix.length; ++k) {
    worst = Math.max(worst, Math.abs(stems.reduce((sum, stem) => sum + stem[k], 0) - mix[k]));
  }
  assert.ok(worst <= 1e-5 && stems.every((stem) => stem.length === mix.length), String(worst));
  assert.equal(song.renderStems(10, "instrument").stems.length, song.info.instruments);

  const state = song.channelState(0);
  assert.ok(state.note > 0 && state.instrument > 0 && state.frequency > 0, JSON.stringify(state));
  assert.ok(song.subsongCount >= 1 && song.subsongs[0].order === 0);
  song.subsong = 0;
  assert.equal(song.durationMs, song.subsongs[0].durationMs);
  song.subsong = -1;
  assert.throws(() => { song.subsong = song.subsongCount; }, BromError);
  assert.throws(() => { song.amiga = "a500"; }, (e) => e instanceof BromError && /MOD files, not XM/.test(e.reason));
  assert.throws(() => { song.interpolation = "spline"; }, BromError);
});
