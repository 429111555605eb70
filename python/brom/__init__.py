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
from typing import Dict, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from . import _library

__all__ = ["BromError", "Module", "Position", "SongInfo", "Cell", "InstrumentInfo", "SampleInfo",
           "Subsong", "ChannelState", "library_version"]

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


class Subsong(NamedTuple):
    """One song of the order list: where it starts and one pass of it at the current rate."""

    order: int
    row: int
    duration_ms: int
    frames: int  # the same pass in frames, exact
    name: str  # "" where the format names none


class ChannelState(NamedTuple):
    """What a channel plays after the last frame rendered."""

    note: int  # 1..120 (C-0 ...), 0 when the channel plays nothing
    instrument: int  # from 1; 0 when it plays nothing
    sample: int  # the instrument's sample, from 0; -1 when none
    volume: int  # 0..64
    panning: int  # 0 left .. 255 right
    frequency: float  # the sample's frames per second as it plays now; 0 when none
    voices: int  # voices sounding for it: its note, one fading out, notes in the background


_DTYPES = {"int16": (np.int16, "brom_render_s16"), "float32": (np.float32, "brom_render_f32")}
_LOOPS = ("none", "forward", "ping-pong")
# The library's enumerations by name, in the order brom.h numbers them.
_INTERPOLATIONS = ("nearest", "linear", "cubic", "sinc")
_AMIGA_MODELS = ("off", "a500", "a1200")
_ENDS = ("stop", "loop", "fade")
_STEM_GROUPS = ("off", "channel", "instrument")


def _refused(what: str) -> ValueError:
    return ValueError("brom: %s refused" % what)


def _number(names: Sequence[str], value: str, what: str) -> int:
    """The library's number for one of its names; ValueError naming the choices otherwise."""
    if value not in names:
        raise ValueError("brom: %s is %s, not %r" % (what, ", ".join('"%s"' % n for n in names),
                                                       value))
    return names.index(value)


class Module:
    """One loaded module and its playback: load it with `from_file` or `from_bytes`."""

    def __init__(self, handle: int, source: str = "") -> None:
        # Use from_file or from_bytes; `handle` is the library's brom_module pointer.
        self._handle: Optional[int] = handle
        self.source = source
        self._gain_db = 0.0
        self._stereo = 100
        self._repeat = 0
        self._end = ("stop", 10000)
        self._stems = "off"
        self._scope_frames = 0

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
    def format(self) -> str:
        """The file's format, told by its bytes: "XM", "MOD", "S3M" or "IT"."""
        return _text(_lib.brom_format_name(_lib.brom_format(self._h)))

    @property
    def message(self) -> str:
        """The song message (Impulse Tracker modules), lines ended by newlines; "" for none."""
        return _text(_lib.brom_message(self._h))

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

    def cell_text(self, pattern: int, row: int, channel: int) -> str:
        """A cell as the format's tracker writes it, such as "C#4 01 40 A0F" (XM)."""
        text = ctypes.create_string_buffer(64)
        if not _lib.brom_cell_text(self._h, pattern, row, channel, text, len(text)):
            raise IndexError("brom: no cell at pattern %d, row %d, channel %d"
                             % (pattern, row, channel))
        return _text(text.value)

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

    # ---- Subsongs and the end ----

    @property
    def subsong_count(self) -> int:
        """The songs of the order list, 1 or more (found by playing it, without mixing, when
        first asked)."""
        return int(_lib.brom_subsong_count(self._h))

    @property
    def subsongs(self) -> List[Subsong]:
        result = []
        for k in range(self.subsong_count):
            record = _library.SubsongRecord()
            _lib.brom_get_subsong(self._h, k, ctypes.byref(record))
            result.append(Subsong(record.order, record.row, record.duration_ms, record.frames,
                                  _text(record.name)))
        return result

    @property
    def subsong(self) -> int:
        """The subsong playing, from 0; -1 (at first) for the whole order list. Selecting one
        plays it from its start; position, duration and seeks then act within it."""
        return int(_lib.brom_selected_subsong(self._h))

    @subsong.setter
    def subsong(self, index: int) -> None:
        if not _lib.brom_select_subsong(self._h, index):
            raise _refused("subsong %r of %d" % (index, self.subsong_count))

    def order_subsong(self, order: int) -> int:
        """The subsong that first plays a row of the order position; -1 when none."""
        return int(_lib.brom_order_subsong(self._h, order))

    def set_end(self, how: str, fade_ms: int = 10000) -> None:
        """How the song ends once its last pass comes round: "stop" (the default), "loop"
        without end, or "fade": plays on, fading out over `fade_ms` (1..600000), then stops."""
        number = _number(_ENDS, how, "the end")
        if not _lib.brom_set_end(self._h, number, fade_ms):
            raise _refused("fade of %r ms" % fade_ms)
        self._end = (how, fade_ms)

    @property
    def end(self) -> str:
        """"stop", "loop" or "fade" (see set_end)."""
        return self._end[0]

    @property
    def fade_ms(self) -> int:
        """The fade's length, for the end "fade"."""
        return self._end[1]

    # ---- Settings ----

    @property
    def profile(self) -> str:
        """The way the module plays: "brom" (the default) or "ft2", as FastTracker 2 played XM
        modules. Set before the first render or right after a seek."""
        return _text(_lib.brom_profile(self._h))

    @profile.setter
    def profile(self, name: str) -> None:
        if not _lib.brom_set_profile(self._h, name.encode()):
            raise _refused("profile %r (unknown, or set after the first render and not right "
                           "after a seek)" % name)

    @property
    def interpolation(self) -> str:
        """How samples are read between their frames: "nearest", "linear" (the default),
        "cubic" or "sinc". Heard from the next 1/50 s."""
        return _INTERPOLATIONS[_lib.brom_interpolation_mode(self._h)]

    @interpolation.setter
    def interpolation(self, mode: str) -> None:
        _lib.brom_set_interpolation(self._h, _number(_INTERPOLATIONS, mode, "the interpolation"))

    @property
    def amiga(self) -> str:
        """The Amiga's sound for MOD files: "off" (the default), "a500" or "a1200". Other
        formats refuse it (ValueError)."""
        return _AMIGA_MODELS[_lib.brom_amiga_model(self._h)]

    @amiga.setter
    def amiga(self, model: str) -> None:
        if not _lib.brom_set_amiga(self._h, _number(_AMIGA_MODELS, model, "the Amiga model")):
            raise ValueError("brom: the Amiga's sound is for MOD files, not %s" % self.format)


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

    def peak(self, channel: int) -> Tuple[float, float]:
        """The channel's peak over the last 1/50 s rendered, left and right, 1.0 full scale,
        as the output has it (mute, stereo separation and gain applied)."""
        left, right = ctypes.c_float(), ctypes.c_float()
        if not _lib.brom_channel_peak(self._h, channel, ctypes.byref(left), ctypes.byref(right)):
            raise _refused("channel %r" % channel)
        return left.value, right.value

    def channel_state(self, channel: int) -> ChannelState:
        """What the channel plays after the last frame rendered."""
        record = _library.ChannelStateRecord()
        if not _lib.brom_get_channel_state(self._h, channel, ctypes.byref(record)):
            raise _refused("channel %r" % channel)
        return ChannelState(*(getattr(record, field) for field, _ in record._fields_))

    @property
    def background_notes(self) -> int:
        """Notes sounding on in the background after their channel started another."""
        return int(_lib.brom_background_notes(self._h))

    @property
    def scope_frames(self) -> int:
        """Frames each channel's scope keeps, 0..8192; 0 (the default) is off. Setting it
        clears what was kept."""
        return self._scope_frames

    @scope_frames.setter
    def scope_frames(self, frames: int) -> None:
        if not _lib.brom_set_scope_frames(self._h, frames):
            raise _refused("scope of %r frames" % frames)
        self._scope_frames = frames

    def scope(self, channel: int) -> np.ndarray:
        """The channel's own signal over the last `scope_frames` frames rendered, oldest first,
        as a float32 array (n, 2), 1.0 full scale; a muted channel shows silence."""
        out = np.zeros((self._scope_frames, 2), dtype=np.float32)
        got = _lib.brom_channel_scope(self._h, channel, out.ctypes.data, self._scope_frames)
        if got == 0 and self._scope_frames and not 0 <= channel < self.channels:
            raise _refused("channel %r" % channel)
        return out[:got]

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

    @property
    def stems(self) -> str:
        """How the mix is taken apart for render_stems: "off" (the default), "channel" or
        "instrument". Acts from the next 1/50 s: set it before rendering for whole stems."""
        return self._stems

    @stems.setter
    def stems(self, by: str) -> None:
        _lib.brom_set_stems(self._h, _number(_STEM_GROUPS, by, "the stems' grouping"))
        self._stems = by

    @property
    def stem_count(self) -> int:
        """The stems rendered: the channels, or the instruments; 0 while off."""
        return int(_lib.brom_stem_count(self._h))

    def render_stems(self, frames: int, by: str = "channel"
                     ) -> Tuple[np.ndarray, Dict[int, np.ndarray]]:
        """Renders as render(frames, "float32") and takes the mix apart in the same pass: the
        mix, and a dict from the stem's index (the channel, or the instrument, from 0) to its
        float32 array (n, 2). Added up in double precision the stems give the mix to within
        2^-19 of full scale. Sets `stems` to `by` (heard from the next 1/50 s)."""
        if frames < 0:
            raise ValueError("brom: frames must not be negative")
        _number(_STEM_GROUPS[1:], by, "a stem's grouping")
        if by != self._stems:
            self.stems = by
        mix = np.empty((frames, 2), dtype=np.float32)
        stems = [np.empty((frames, 2), dtype=np.float32) for _ in range(self.stem_count)]
        pointers = (ctypes.c_void_p * max(len(stems), 1))(*(s.ctypes.data for s in stems))
        got = _lib.brom_render_stems_f32(self._h, mix.ctypes.data, pointers, frames)
        if got < frames:
            mix = mix[:got].copy()
            stems = [s[:got].copy() for s in stems]
        return mix, dict(enumerate(stems))

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
