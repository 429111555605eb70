"""XM and MOD tracker modules rendered to NumPy arrays, through the Brom C library.

    import brom
    song = brom.Module.from_file("song.xm")
    print(song.title, song.tracker, song.duration)
    song.sample_rate = 48000
    for block in song.blocks(4096, dtype="float32"):   # (<= 4096, 2) float32 arrays
        ...

A module renders once through and ends where the song first comes round (`repeat` changes
that). At 44100 Hz with no other setting changed, `render(..., dtype="int16")` gives exactly the
frames of `brom-play --render`; "float32" gives the same mix before its conversion to 16 bits,
with 1.0 as full scale. Failures of the library raise `BromError` with its reason; values the
library refuses (a rate out of range, a channel that does not exist) raise `ValueError`.
A module is used by one thread at a time.
"""

from __future__ import annotations

import ctypes
import os
from typing import Iterator, List, NamedTuple, Optional, Union

import numpy as np

from . import _library

__all__ = ["BromError", "Module", "Position", "SongInfo", "Cell", "InstrumentInfo", "SampleInfo",
           "library_version"]

_lib = _library.load()

# brom_error codes, as brom.h numbers them.
ERROR_NAMES = {1: "argument", 2: "io", 3: "format", 4: "truncated", 5: "memory"}


def _text(raw: Optional[bytes]) -> str:
    """The library's strings are the file's bytes: UTF-8 when they are valid as such, else Latin-1."""
    if not raw:
        return ""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")


def library_version() -> str:
    """The version of the libbrom.so in use, such as "1.0.0"."""
    return _text(_lib.brom_version())


class BromError(Exception):
    """A module could not be loaded. `code` is the kind ("io", "format", "truncated", "memory",
    "argument"), `reason` the library's own line about what exactly is wrong."""

    def __init__(self, code: int, reason: str, source: str = "") -> None:
        self.code = ERROR_NAMES.get(code, str(code))
        self.reason = reason
        super().__init__("%s: %s" % (source, reason) if source else reason)


class Position(NamedTuple):
    """Where the song is after the last frame rendered."""

    time_ms: int
    order: int
    pattern: int
    row: int
    speed: int
    bpm: int


class SongInfo(NamedTuple):
    channels: int
    song_length: int  # order positions played
    restart: int  # the order position the song goes back to at its end
    patterns: int
    instruments: int
    speed: int  # ticks per row at the start
    bpm: int  # tempo at the start
    linear: bool  # linear frequency table (else Amiga periods)


class Cell(NamedTuple):
    note: int  # 0 none, 1..96 (C-0 to B-7), 97 key off
    instrument: int  # 0 none, 1..128
    volume: int  # the volume column's byte
    effect: int  # 0..35 for 0-9 and A-Z
    param: int


class InstrumentInfo(NamedTuple):
    name: str
    samples: int
    volume_points: int
    volume_envelope: bool
    panning_points: int
    panning_envelope: bool
    fadeout: int
    vibrato_type: int
    vibrato_sweep: int
    vibrato_depth: int
    vibrato_rate: int


class SampleInfo(NamedTuple):
    name: str
    length: int  # frames
    loop_start: int
    loop_length: int
    loop: str  # "none", "forward" or "ping-pong"
    volume: int  # 0..64
    finetune: int
    panning: int  # 0..255; -1 leaves the channel's panning (MOD files)
    relative_note: int
    bits: int


_DTYPES = {"int16": (np.int16, "brom_render_s16"), "float32": (np.float32, "brom_render_f32")}
_LOOPS = ("none", "forward", "ping-pong")


def _refused(what: str) -> ValueError:
    return ValueError("brom: %s refused" % what)


class Module:
    """One loaded module and its playback: load it with `from_file` or `from_bytes`."""

    def __init__(self, handle: int, source: str = "") -> None:
        # Use from_file or from_bytes; `handle` is the library's brom_module pointer.
        self._handle: Optional[int] = handle
        self.source = source
        self._gain_db = 0.0
        self._stereo = 100
        self._repeat = 0

    # ---- Loading ----

    @classmethod
    def from_file(cls, path: Union[str, "os.PathLike[str]"]) -> "Module":
        """Loads an XM or MOD file; raises BromError with the library's reason."""
        error = ctypes.c_int(0)
        reason = ctypes.c_char_p()
        name = os.fspath(path)
        handle = _lib.brom_load_file_ex(os.fsencode(name), ctypes.byref(error), ctypes.byref(reason))
        return cls._made(handle, error, reason, name)

    @classmethod
    def from_bytes(cls, data: Union[bytes, bytearray, memoryview]) -> "Module":
        """Loads a module from the file's bytes (copied; `data` may go right after)."""
        error = ctypes.c_int(0)
        reason = ctypes.c_char_p()
        raw = bytes(data)
        handle = _lib.brom_load_memory_ex(raw, len(raw), ctypes.byref(error), ctypes.byref(reason))
        return cls._made(handle, error, reason, "")

    @classmethod
    def _made(cls, handle: Optional[int], error: ctypes.c_int, reason: ctypes.c_char_p,
              source: str) -> "Module":
        if not handle:
            text = _text(reason.value) or _text(_lib.brom_error_string(error.value))
            raise BromError(error.value, text, source)
        return cls(handle, source)

    def close(self) -> None:
        """Frees the library's module now (also done when the object goes)."""
        if self._handle:
            _lib.brom_free(self._handle)
            self._handle = None

    def __enter__(self) -> "Module":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()

    @property
    def _h(self) -> int:
        if not self._handle:
            raise ValueError("brom: the module is closed")
        return self._handle

    def __repr__(self) -> str:
        return "<brom.Module %r, %d channels, %.3f s>" % (self.title, self.channels, self.duration)

    # ---- What the file holds ----

    @property
    def title(self) -> str:
        return _text(_lib.brom_title(self._h))

    @property
    def tracker(self) -> str:
        """The program that wrote the file, as the file names it."""
        return _text(_lib.brom_tracker(self._h))

    @property
    def info(self) -> SongInfo:
        record = _library.SongInfo()
        _lib.brom_get_song_info(self._h, ctypes.byref(record))
        values = [getattr(record, name) for name, _ in record._fields_]
        values[-1] = bool(values[-1])
        return SongInfo(*values)

    @property
    def channels(self) -> int:
        return int(_lib.brom_channel_count(self._h))

    @property
    def song_length(self) -> int:
        return self.info.song_length

    @property
    def orders(self) -> List[int]:
        """The pattern played at each order position."""
        return [_lib.brom_order_pattern(self._h, k) for k in range(self.song_length)]

    @property
    def instrument_names(self) -> List[str]:
        return [_text(_lib.brom_instrument_name(self._h, k))
                for k in range(_lib.brom_instrument_count(self._h))]

    @property
    def instruments(self) -> List[InstrumentInfo]:
        result = []
        for k, name in enumerate(self.instrument_names):
            record = _library.InstrumentRecord()
            _lib.brom_get_instrument_info(self._h, k, ctypes.byref(record))
            values = [getattr(record, field) for field, _ in record._fields_]
            values[2], values[4] = bool(values[2]), bool(values[4])
            result.append(InstrumentInfo(name, *values))
        return result

    def samples(self, instrument: int) -> List[SampleInfo]:
        """The samples of an instrument (counted from 0)."""
        result = []
        for k in range(_lib.brom_sample_count(self._h, instrument)):
            record = _library.SampleRecord()
            _lib.brom_get_sample_info(self._h, instrument, k, ctypes.byref(record))
            values = [getattr(record, field) for field, _ in record._fields_]
            values[3] = _LOOPS[values[3]] if 0 <= values[3] < len(_LOOPS) else str(values[3])
            result.append(SampleInfo(_text(_lib.brom_sample_name(self._h, instrument, k)), *values))
        return result

    def pattern_rows(self, pattern: int) -> int:
        """Rows of a pattern, -1 for none."""
        return int(_lib.brom_pattern_rows(self._h, pattern))

    def cell(self, pattern: int, row: int, channel: int) -> Cell:
        record = _library.CellRecord()
        if not _lib.brom_get_pattern_cell(self._h, pattern, row, channel, ctypes.byref(record)):
            raise IndexError("brom: no cell at pattern %d, row %d, channel %d"
                             % (pattern, row, channel))
        return Cell(record.note, record.instrument, record.volume, record.effect, record.param)

    @property
    def repairs(self) -> List[str]:
        """What the loader repaired in a damaged file or read in an older layout."""
        count = _lib.brom_repair_count(self._h)
        return [_text(_lib.brom_repair_note(self._h, k)) for k in range(count)]

    # ---- Time ----

    @property
    def duration_ms(self) -> int:
        """One pass, in milliseconds."""
        return int(_lib.brom_duration_ms(self._h))

    @property
    def duration(self) -> float:
        """One pass, in seconds."""
        return self.duration_ms / 1000.0

    def order_time_ms(self, order: int) -> int:
        """Where one pass from the start first reaches the order position; -1 never."""
        return int(_lib.brom_order_time_ms(self._h, order))

    @property
    def position(self) -> Position:
        record = _library.Position()
        _lib.brom_get_position(self._h, ctypes.byref(record))
        return Position(record.time_ms, record.order, record.pattern, record.row, record.speed,
                        record.bpm)

    def seek(self, seconds: float) -> None:
        """Sample-exact, backwards too; beyond the end leaves the song at its end."""
        self.seek_ms(round(seconds * 1000))

    def seek_ms(self, ms: int) -> None:
        if not _lib.brom_seek_ms(self._h, int(ms)):
            raise _refused("seek to %r ms" % ms)

    def seek_order(self, order: int, row: int = 0) -> None:
        """Jumps as a position jump with a pattern break would, from where the song is."""
        if not _lib.brom_seek_order_row(self._h, order, row):
            raise _refused("seek to order %d, row %d" % (order, row))

    # ---- Settings ----

    @property
    def sample_rate(self) -> int:
        return int(_lib.brom_sample_rate(self._h))

    @sample_rate.setter
    def sample_rate(self, rate: int) -> None:
        """8000..192000; before the first render or right after a seek."""
        if not _lib.brom_set_sample_rate(self._h, rate):
            raise _refused("sample rate %r" % rate)

    @property
    def repeat(self) -> int:
        """Passes after the first: 0 ends where the song first comes round, -1 never ends."""
        return self._repeat

    @repeat.setter
    def repeat(self, count: int) -> None:
        if not _lib.brom_set_repeat_count(self._h, count):
            raise _refused("repeat count %r" % count)
        self._repeat = count

    @property
    def gain_db(self) -> float:
        """Gain before the conversion to 16 bits, -60..24 dB, saturating; 0 is the exact mix."""
        return self._gain_db

    @gain_db.setter
    def gain_db(self, decibels: float) -> None:
        if not _lib.brom_set_gain_db(self._h, float(decibels)):
            raise _refused("gain %r dB" % decibels)
        self._gain_db = float(decibels)

    @property
    def stereo(self) -> int:
        """Stereo separation in percent: 100 as the song pans, 0 mono, 200 wider."""
        return self._stereo

    @stereo.setter
    def stereo(self, percent: int) -> None:
        if not _lib.brom_set_stereo_separation(self._h, percent):
            raise _refused("stereo separation %r" % percent)
        self._stereo = percent

    @property
    def render_threads(self) -> int:
        """Threads rendering the module (0 when set: one per core); the frames never depend on it."""
        return int(_lib.brom_render_threads(self._h))

    @render_threads.setter
    def render_threads(self, threads: int) -> None:
        if not _lib.brom_set_render_threads(self._h, threads):
            raise _refused("render threads %r" % threads)

    def mute(self, channel: int, muted: bool = True) -> None:
        """Mutes (or unmutes) a channel, counted from 0; acts from the next 1/50 s."""
        if not _lib.brom_set_channel_mute(self._h, channel, int(bool(muted))):
            raise _refused("channel %r" % channel)

    def muted(self, channel: int) -> bool:
        return bool(_lib.brom_channel_muted(self._h, channel))

    def level(self, channel: int) -> int:
        """How loud the channel's note is now, 0..255."""
        return int(_lib.brom_channel_level(self._h, channel))

    # ---- Rendering ----

    def render(self, frames: int, dtype: str = "int16") -> np.ndarray:
        """Up to `frames` stereo frames as an array of shape (n, 2), "int16" or "float32";
        n < frames only at the end of the song (then 0 on later calls)."""
        try:
            kind, function = _DTYPES[dtype]
        except KeyError:
            raise ValueError("brom: dtype is \"int16\" or \"float32\", not %r" % (dtype,)) from None
        if frames < 0:
            raise ValueError("brom: frames must not be negative")
        out = np.empty((frames, 2), dtype=kind)
        got = getattr(_lib, function)(self._h, out.ctypes.data, frames)
        return out if got == frames else out[:got].copy()

    def blocks(self, frames: int = 4096, dtype: str = "int16") -> Iterator[np.ndarray]:
        """The rest of the song, `frames` at a time (the last block may be shorter)."""
        while True:
            block = self.render(frames, dtype)
            if len(block):
                yield block
            if len(block) < frames:
                return

    def __iter__(self) -> Iterator[np.ndarray]:
        return self.blocks()

    def render_all(self, dtype: str = "int16") -> np.ndarray:
        """The rest of the song as one array (with `repeat` -1 it never ends: render in blocks)."""
        if self._repeat < 0:
            raise ValueError("brom: the song repeats forever; render it in blocks")
        parts = list(self.blocks(1 << 16, dtype))
        return np.concatenate(parts) if parts else np.empty((0, 2), dtype=_DTYPES[dtype][0])
