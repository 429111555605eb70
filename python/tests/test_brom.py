"""The Python package against brom-play: the same settings give the same bytes.

BROM_PLAY names brom-play (default: build/tools/brom-play/brom-play of the source tree);
BROM_SONG the module (default: assets/brom-boogie.xm).
"""

import os
import struct
import subprocess
from pathlib import Path

import numpy as np
import pytest

import brom

TREE = Path(__file__).resolve().parents[2]
BROM_PLAY = os.environ.get("BROM_PLAY", str(TREE / "build/tools/brom-play/brom-play"))
SONG = os.environ.get("BROM_SONG", str(TREE / "assets/brom-boogie.xm"))


def brom_play_frames(tmp_path, *options, song=SONG):
    """The frames of `brom-play --render` with these options, as bytes (the WAV's data chunk)."""
    out = tmp_path / "out.wav"
    subprocess.run([BROM_PLAY, "--render", str(out), *options, str(song)], check=True,
                   stdout=subprocess.DEVNULL)
    wav = out.read_bytes()
    return wav[wav.index(b"data") + 8:]


# (brom-play's options, the same settings on a Module, dtype)
SETTINGS = [
    ([], {}, "int16"),
    (["--float"], {}, "float32"),
    (["--rate", "48000", "--gain", "-3.5", "--stereo", "40", "--mute", "2,4", "--seconds", "20"],
     {"sample_rate": 48000, "gain_db": -3.5, "stereo": 40, "mute": [1, 3], "seconds": 20},
     "int16"),
    (["--seek", "1:02.250", "--repeat", "1", "--float"], {"seek": 62.25, "repeat": 1}, "float32"),
    (["--start", "3:16", "--seconds", "10"], {"order": (3, 16), "seconds": 10}, "int16"),
    (["--profile", "ft2", "--seconds", "20"], {"profile": "ft2", "seconds": 20}, "int16"),
    (["--interpolation", "sinc", "--float", "--seconds", "20"],
     {"interpolation": "sinc", "seconds": 20}, "float32"),
    (["--end", "fade:3", "--seek", "1:50"], {"end": ("fade", 3000), "seek": 110}, "int16"),
]


@pytest.mark.parametrize("options,settings,dtype", SETTINGS,
                         ids=["default", "float", "rate-gain-stereo-mute", "seek-repeat", "order",
                              "ft2", "sinc", "fade"])
def test_render_equals_brom_play(tmp_path, options, settings, dtype):
    song = brom.Module.from_file(SONG)
    for name in ("sample_rate", "gain_db", "stereo", "repeat", "profile", "interpolation"):
        if name in settings:
            setattr(song, name, settings[name])
    if "end" in settings:
        song.set_end(*settings["end"])
    for channel in settings.get("mute", []):
        song.mute(channel)
    if "seek" in settings:
        song.seek(settings["seek"])
    if "order" in settings:
        song.seek_order(*settings["order"])
    if "seconds" in settings:
        frames = song.render(settings["seconds"] * song.sample_rate, dtype)
    else:
        frames = song.render_all(dtype)
    assert frames.dtype == np.dtype(dtype) and frames.ndim == 2 and frames.shape[1] == 2
    assert frames.astype("<" + frames.dtype.str[1:]).tobytes() == brom_play_frames(tmp_path, *options)


def two_song_mod(path):
    """Writes a 4-channel MOD whose order list holds two songs: order 0 loops on itself (B00),
    order 1, reached from nowhere, plays its pattern once."""
    def cell(period=0, sample=0, effect=0, param=0):
        return bytes([(sample & 0xF0) | period >> 8, period & 0xFF, (sample & 0x0F) << 4 | effect,
                      param])
    samples = b"square".ljust(22, b"\0") + struct.pack(">HbBHH", 16, 0, 64, 0, 16) + bytes(30 * 30)
    orders = bytes([2, 127]) + bytes([0, 1]).ljust(128, b"\0") + b"M.K."
    patterns = b""
    for period, last in ((428, cell(0, 0, 0xB, 0)), (320, cell())):
        patterns += cell(period, 1) + cell() * 3 + last + cell() * 3 + cell() * 4 * 62
    path.write_bytes(b"two songs".ljust(20, b"\0") + samples + orders + patterns
                     + bytes([100] * 16 + [156] * 16))
    return path


def test_subsongs_and_the_amiga(tmp_path):
    path = two_song_mod(tmp_path / "two.mod")
    song = brom.Module.from_file(path)
    assert song.format == "MOD" and song.subsong_count == 2 and song.subsong == -1
    first, second = song.subsongs
    assert (first.order, second.order) == (0, 1) and first.frames < second.frames
    assert song.order_subsong(1) == 1
    for refused in (2, -2):
        with pytest.raises(ValueError):
            song.subsong = refused
    song.subsong = 0
    assert song.duration_ms == first.duration_ms
    song.subsong = 1
    song.amiga = "a500"
    assert (song.subsong, song.amiga) == (1, "a500")
    assert song.render_all().tobytes() == brom_play_frames(tmp_path, "--subsong", "2", "--amiga",
                                                           "a500", song=path)


@pytest.mark.parametrize("by,count", [("channel", "channels"), ("instrument", "instruments")])
def test_stems_add_up_to_the_mix(by, count):
    song = brom.Module.from_file(SONG)
    song.mute(1)
    song.scope_frames = 512
    mix, stems = song.render_stems(5 * 44100, by)
    expected = brom.Module.from_file(SONG)
    expected.mute(1)
    assert np.array_equal(mix, expected.render(5 * 44100, "float32"))
    assert list(stems) == list(range(getattr(song.info, count))) == list(range(song.stem_count))
    assert all(stem.shape == mix.shape and stem.dtype == np.float32 for stem in stems.values())
    total = np.sum([stem.astype(np.float64) for stem in stems.values()], axis=0)
    assert np.abs(total - mix).max() <= 1e-5 and np.abs(mix).max() > 0.1
    if by == "channel":
        assert not stems[1].any() and stems[0].any()
        for channel in range(song.channels):  # a scope shows the end of its channel's stem
            assert np.array_equal(song.scope(channel), stems[channel][-512:])


def test_blocks_shapes_and_position():
    song = brom.Module.from_file(SONG)
    whole = song.render_all("float32")
    assert whole.shape[1] == 2 and abs(len(whole) - song.duration * 44100) <= 44.1
    song.seek(0)
    blocks = list(song.blocks(10000, "float32"))
    assert all(b.shape == (10000, 2) for b in blocks[:-1]) and 0 < len(blocks[-1]) <= 10000
    assert np.array_equal(np.concatenate(blocks), whole)
    assert song.render(100).shape == (0, 2)
    song.seek_order(2, 8)
    song.render(1)
    assert song.position[1:4] == (2, song.orders[2], 8)


def test_metadata():
    with brom.Module.from_file(SONG) as song:
        assert song.title and song.tracker and song.channels == song.info.channels > 0
        assert len(song.instruments) == song.info.instruments == len(song.instrument_names)
        assert song.samples(0)[0].length > 0 and song.samples(0)[0].bits in (8, 16)
        assert song.cell(song.orders[0], 0, 0).note in range(0, 98)
        assert 0 < song.order_time_ms(1) < song.duration_ms
        assert song.cell_text(song.orders[0], 0, 0).startswith("C-2 02")
        song.render(1)
        first = song.cell(song.orders[0], 0, 0)
        state = song.channel_state(0)
        assert (state.note, state.instrument, state.voices) == (first.note, first.instrument, 1)
        assert state.frequency > 0 and max(song.peak(0)) > 0


def test_errors():
    with pytest.raises(brom.BromError) as caught:
        brom.Module.from_bytes(Path(SONG).read_bytes()[:60])
    assert caught.value.code == "truncated" and caught.value.reason == "the file ends inside its header"
    assert brom.Module.from_bytes(Path(SONG).read_bytes()[:400]).repairs  # cut short, repaired
    with pytest.raises(brom.BromError) as caught:
        brom.Module.from_file("/nonexistent/song.xm")
    assert caught.value.code == "io" and "/nonexistent/song.xm" in str(caught.value)
    song = brom.Module.from_file(SONG)
    song.render(10)
    with pytest.raises(ValueError):
        song.sample_rate = 48000  # only before the first render or right after a seek
    with pytest.raises(ValueError):
        song.mute(song.channels)
    with pytest.raises(ValueError):
        song.render(10, "int8")
    with pytest.raises(ValueError, match="MOD files, not XM"):
        song.amiga = "a500"
    for name, value in (("profile", "ft2"), ("profile", "it"), ("interpolation", "spline")):
        with pytest.raises(ValueError):  # a profile only before the first render or after a seek
            setattr(song, name, value)
    song.seek(0)
    song.profile = "ft2"
    assert song.profile == "ft2"
    with pytest.raises(ValueError):
        song.set_end("fade", 0)
    song.close()
    with pytest.raises(ValueError):
        song.render(10)
