"""The Python package against brom-play: the same settings give the same bytes.

BROM_PLAY names brom-play (default: build/tools/brom-play/brom-play of the source tree);
BROM_SONG the module (default: assets/brom-boogie.xm).
"""

import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import brom

TREE = Path(__file__).resolve().parents[2]
BROM_PLAY = os.environ.get("BROM_PLAY", str(TREE / "build/tools/brom-play/brom-play"))
SONG = os.environ.get("BROM_SONG", str(TREE / "assets/brom-boogie.xm"))


def brom_play_frames(tmp_path, *options):
    """The frames of `brom-play --render` with these options, as bytes (the WAV's data chunk)."""
    out = tmp_path / "out.wav"
    subprocess.run([BROM_PLAY, "--render", str(out), *options, SONG], check=True,
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
]


@pytest.mark.parametrize("options,settings,dtype", SETTINGS,
                         ids=["default", "float", "rate-gain-stereo-mute", "seek-repeat", "order"])
def test_render_equals_brom_play(tmp_path, options, settings, dtype):
    song = brom.Module.from_file(SONG)
    for name in ("sample_rate", "gain_db", "stereo", "repeat"):
        if name in settings:
            setattr(song, name, settings[name])
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
    song.close()
    with pytest.raises(ValueError):
        song.render(10)
