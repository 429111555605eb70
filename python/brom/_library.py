"""Finding libbrom.so and declaring the C functions of brom/brom.h to ctypes."""

from __future__ import annotations

import ctypes
import os
import sys
import sysconfig
from pathlib import Path
from typing import Iterator, List

SONAME = "libbrom.so.1"


class Position(ctypes.Structure):
    _fields_ = [
        ("time_ms", ctypes.c_int64),
        ("order", ctypes.c_int),
        ("pattern", ctypes.c_int),
        ("row", ctypes.c_int),
        ("speed", ctypes.c_int),
        ("bpm", ctypes.c_int),
    ]


class SongInfo(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_int)
        for name in ("channels", "song_length", "restart", "patterns", "instruments", "speed",
                     "bpm", "linear")
    ]


class CellRecord(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int) for name in ("note", "instrument", "volume", "effect", "param")]


class InstrumentRecord(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_int)
        for name in ("samples", "volume_points", "volume_envelope", "panning_points",
                     "panning_envelope", "fadeout", "vibrato_type", "vibrato_sweep",
                     "vibrato_depth", "vibrato_rate")
    ]


class SampleRecord(ctypes.Structure):
    _fields_ = [
        ("length", ctypes.c_uint32),
        ("loop_start", ctypes.c_uint32),
        ("loop_length", ctypes.c_uint32),
        ("loop", ctypes.c_int),
        ("volume", ctypes.c_int),
        ("finetune", ctypes.c_int),
        ("panning", ctypes.c_int),
        ("relative_note", ctypes.c_int),
        ("bits", ctypes.c_int),
    ]


class SubsongRecord(ctypes.Structure):
    _fields_ = [
        ("order", ctypes.c_int),
        ("row", ctypes.c_int),
        ("duration_ms", ctypes.c_int64),
        ("frames", ctypes.c_int64),
        ("name", ctypes.c_char_p),
    ]


class ChannelStateRecord(ctypes.Structure):
    _fields_ = [
        ("note", ctypes.c_int),
        ("instrument", ctypes.c_int),
        ("sample", ctypes.c_int),
        ("volume", ctypes.c_int),
        ("panning", ctypes.c_int),
        ("frequency", ctypes.c_double),
        ("voices", ctypes.c_int),
    ]


_M = ctypes.c_void_p
_I = ctypes.c_int
_S = ctypes.c_char_p
_P = ctypes.POINTER
# name: (result, argument types)
_FUNCTIONS = {
    "brom_version": (_S, []),
    "brom_error_string": (_S, [_I]),
    "brom_load_memory_ex": (_M, [ctypes.c_void_p, ctypes.c_size_t, _P(_I), _P(_S)]),
    "brom_load_file_ex": (_M, [_S, _P(_I), _P(_S)]),
    "brom_free": (None, [_M]),
    "brom_repair_count": (_I, [_M]),
    "brom_repair_note": (_S, [_M, _I]),
    "brom_set_sample_rate": (_I, [_M, _I]),
    "brom_sample_rate": (_I, [_M]),
    "brom_render_s16": (ctypes.c_size_t, [_M, ctypes.c_void_p, ctypes.c_size_t]),
    "brom_render_f32": (ctypes.c_size_t, [_M, ctypes.c_void_p, ctypes.c_size_t]),
    "brom_set_profile": (_I, [_M, _S]),
    "brom_profile": (_S, [_M]),
    "brom_set_render_threads": (_I, [_M, _I]),
    "brom_render_threads": (_I, [_M]),
    "brom_seek_ms": (_I, [_M, ctypes.c_int64]),
    "brom_seek_order_row": (_I, [_M, _I, _I]),
    "brom_set_repeat_count": (_I, [_M, _I]),
    "brom_duration_ms": (ctypes.c_int64, [_M]),
    "brom_order_time_ms": (ctypes.c_int64, [_M, _I]),
    "brom_subsong_count": (_I, [_M]),
    "brom_get_subsong": (_I, [_M, _I, _P(SubsongRecord)]),
    "brom_select_subsong": (_I, [_M, _I]),
    "brom_selected_subsong": (_I, [_M]),
    "brom_order_subsong": (_I, [_M, _I]),
    "brom_set_end": (_I, [_M, _I, _I]),
    "brom_get_position": (_I, [_M, _P(Position)]),
    "brom_channel_count": (_I, [_M]),
    "brom_set_channel_mute": (_I, [_M, _I, _I]),
    "brom_channel_muted": (_I, [_M, _I]),
    "brom_channel_level": (_I, [_M, _I]),
    "brom_set_gain_db": (_I, [_M, ctypes.c_double]),
    "brom_set_stereo_separation": (_I, [_M, _I]),
    "brom_channel_peak": (_I, [_M, _I, _P(ctypes.c_float), _P(ctypes.c_float)]),
    "brom_background_notes": (_I, [_M]),
    "brom_set_interpolation": (_I, [_M, _I]),
    "brom_interpolation_mode": (_I, [_M]),
    "brom_set_amiga": (_I, [_M, _I]),
    "brom_amiga_model": (_I, [_M]),
    "brom_set_stems": (_I, [_M, _I]),
    "brom_stem_count": (_I, [_M]),
    "brom_render_stems_f32": (ctypes.c_size_t, [_M, ctypes.c_void_p, _P(ctypes.c_void_p),
                                                ctypes.c_size_t]),
    "brom_set_scope_frames": (_I, [_M, _I]),
    "brom_channel_scope": (_I, [_M, _I, ctypes.c_void_p, _I]),
    "brom_get_channel_state": (_I, [_M, _I, _P(ChannelStateRecord)]),
    "brom_cell_text": (_I, [_M, _I, _I, _I, ctypes.c_char_p, _I]),
    "brom_format": (_I, [_M]),
    "brom_format_name": (_S, [_I]),
    "brom_message": (_S, [_M]),
    "brom_title": (_S, [_M]),
    "brom_tracker": (_S, [_M]),
    "brom_instrument_count": (_I, [_M]),
    "brom_instrument_name": (_S, [_M, _I]),
    "brom_sample_count": (_I, [_M, _I]),
    "brom_sample_name": (_S, [_M, _I, _I]),
    "brom_get_song_info": (_I, [_M, _P(SongInfo)]),
    "brom_order_pattern": (_I, [_M, _I]),
    "brom_pattern_rows": (_I, [_M, _I]),
    "brom_get_pattern_cell": (_I, [_M, _I, _I, _I, _P(CellRecord)]),
    "brom_get_instrument_info": (_I, [_M, _I, _P(InstrumentRecord)]),
    "brom_get_sample_info": (_I, [_M, _I, _I, _P(SampleRecord)]),
}


def _library_dirs() -> Iterator[Path]:
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    for prefix in dict.fromkeys((sys.prefix, sys.base_prefix, "/usr/local", "/usr")):
        for sub in ("lib", "lib64", os.path.join("lib", multiarch) if multiarch else ""):
            if sub:
                yield Path(prefix) / sub


def candidates() -> List[str]:
    """Where the library is looked for, in order (BROM_LIBRARY alone when it is set)."""
    named = os.environ.get("BROM_LIBRARY")
    if named:
        path = Path(named)
        return [str(path / SONAME if path.is_dir() else path)]
    found = []
    # Imported from the source tree (python/brom): the builds beside it, build/ first.
    tree = Path(__file__).resolve().parent.parent.parent
    if (tree / "include" / "brom" / "brom.h").is_file():
        builds = sorted(tree.glob("build*/api/libbrom.so"), key=lambda p: p.parent.parent.name != "build")
        found += [str(p) for p in builds]
    found.append(SONAME)  # the dynamic linker's own search
    installed = [d / SONAME for d in _library_dirs() if (d / SONAME).exists()]
    found += list(dict.fromkeys(str(p.resolve()) for p in installed))
    return found


def load() -> ctypes.CDLL:
    """Opens the first library that loads and has the major version this package speaks."""
    tried = []
    for name in candidates():
        try:
            library = ctypes.CDLL(name)
            library.brom_version.restype = ctypes.c_char_p
            version = library.brom_version().decode()
        except (OSError, AttributeError) as error:
            tried.append("%s (%s)" % (name, error))
            continue
        if version.split(".")[0] != "1":
            tried.append("%s (version %s)" % (name, version))
            continue
        for function, (result, arguments) in _FUNCTIONS.items():
            entry = getattr(library, function)
            entry.restype = result
            entry.argtypes = arguments
        return library
    raise ImportError(
        "brom: cannot load libbrom.so (install it with `cmake --install BUILD`, or set "
        "BROM_LIBRARY to the file); tried: " + "; ".join(tried)
    )
