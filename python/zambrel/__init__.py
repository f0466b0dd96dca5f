# SPDX-License-Identifier: MIT
"""Zambrel movies for Python: pictures and palettes as numpy arrays, sound as PCM arrays.

    import zambrel
    with zambrel.open("intro.zmb") as movie:
        for frame in movie:
            picture = frame.rgb()      # height x width x 3, uint8, the palette's colours

Errors are zambrel.Error, whose args are the library's reason and its code, and the frame
for damage found while decoding: NotAMovieError and DamagedError (also ValueError) for input
that is no movie or a damaged one, ReadError (also OSError) for a file that cannot be read.
"""
import operator as _operator
import os as _os
from fractions import Fraction

import numpy as np

from . import _zambrel
from ._zambrel import Error

__all__ = ["open", "Movie", "MovieInfo", "Frame", "Track", "Sound", "Error", "NotAMovieError",
           "DamagedError", "ReadError", "__version__"]
__version__ = _zambrel.version()


def _error_reason(self):
    """The library's sentence."""
    return self.args[0] if self.args else ""


def _error_code(self):
    """The library's code (ZAMBERR_ of docs/library.md), negative."""
    return self.args[1] if len(self.args) > 1 else 0


def _error_frame(self):
    """The frame the damage was found at, or None for a failure of the whole movie."""
    return self.args[2] if len(self.args) > 2 else None


def _error_text(self):
    frame = _error_frame(self)
    return _error_reason(self) if frame is None else f"frame {frame}: {_error_reason(self)}"


Error.reason = property(_error_reason)
Error.code = property(_error_code)
Error.frame = property(_error_frame)
# Before OSError's own text, which would read the reason as an errno.
Error.__str__ = _error_text


class NotAMovieError(Error, ValueError):
    """The input does not start like a movie."""


class DamagedError(Error, ValueError):
    """The movie is damaged: its header, tables, trees or frames cannot be used, or it is
    cut short of a frame it lists."""


class ReadError(Error, OSError):
    """The file could not be opened or read."""


_zambrel.set_errors({-3: ReadError, -4: DamagedError, -5: NotAMovieError, -6: DamagedError,
                     -7: DamagedError, -8: DamagedError, -9: DamagedError})


class Track:
    """One sound track's facts."""

    def __init__(self, number, facts):
        self.number = number
        self.rate = facts["rate"]
        self.channels = facts["channels"]
        self.bits = facts["bits"]
        self.compressed = bool(facts["compressed"])
        # Tracks above the rates the library decodes are described but hand out no sound.
        self.decoded = bool(facts["decoded"])

    @property
    def dtype(self):
        return np.dtype(np.uint8) if self.bits == 8 else np.dtype("<i2")

    def __repr__(self):
        return (f"Track({self.number}, {self.rate} Hz, {self.channels} channel(s), "
                f"{self.bits}-bit{', not decoded' if not self.decoded else ''})")


class MovieInfo:
    """A movie's facts: size, frames, their duration as an exact fraction, and tracks."""

    def __init__(self, facts):
        self.width = facts["width"]
        self.height = facts["height"]
        self.stored_height = facts["stored_height"]
        self.frame_count = facts["frame_count"]
        self.frame_duration = Fraction(facts["duration_num"], facts["duration_den"])
        self.duration = self.frame_duration * self.frame_count
        self.ring = bool(facts["flags"] & _zambrel.INFO_RING)
        self.interlaced = bool(facts["flags"] & _zambrel.INFO_INTERLACED)
        self.doubled = bool(facts["flags"] & _zambrel.INFO_DOUBLED)
        self.largest_frame = facts["largest_frame"]
        self.tracks = [Track(number, track) for number, track in enumerate(facts["tracks"])
                       if track["present"]]

    def track(self, number):
        for track in self.tracks:
            if track.number == number:
                return track
        raise Error("the movie has no such sound track", -11)

    def __repr__(self):
        return (f"MovieInfo({self.width}x{self.height}, {self.frame_count} frames of "
                f"{self.frame_duration} s, tracks {[t.number for t in self.tracks]})")


class Sound(np.ndarray):
    """PCM samples, samples x channels, with the track's rate in .rate (Hz) and, for a
    frame's sound, the sample frame of the movie's time line its first sample plays at in
    .position (it plays at position / rate seconds)."""

    def __new__(cls, pcm, track, position=0):
        samples = np.frombuffer(pcm, dtype=track.dtype).reshape(-1, track.channels)
        sound = samples.copy().view(cls)
        sound.rate = track.rate
        sound.position = position
        return sound

    def __array_finalize__(self, obj):
        self.rate = getattr(obj, "rate", None)
        self.position = getattr(obj, "position", 0)


def _whole_samples(pcm, track, frame, what):
    """The PCM as samples x channels; DamagedError, naming the frame, for a damaged chunk
    that does not hold whole sample frames."""
    size = track.channels * track.dtype.itemsize
    if len(pcm) % size:
        raise DamagedError(f"track {track.number}'s {what} holds {len(pcm)} bytes, not whole "
                           f"samples of {size} bytes", -4, frame)
    return pcm


def _FrameSound(decoder, track, frame):
    """A frame's sound of a track, or the error its access raises: the frame keeps its
    picture whatever its sound chunk holds."""
    pcm = decoder.frame_sound(track.number)
    try:
        _whole_samples(pcm, track, frame, "sound chunk")
    except DamagedError as error:
        return error
    return Sound(pcm, track, decoder.sound_position(track.number)[0])


class Frame:
    """One decoded frame. Its arrays are its own: they stay as they are when the movie moves on."""

    def __init__(self, decoder, info):
        facts = decoder.frame_info()
        self.number = facts["number"]
        self.palette_changed = bool(facts["palette_changed"])
        self.indices = np.frombuffer(decoder.picture(_zambrel.PIX_INDEX8), dtype=np.uint8)
        self.indices = self.indices.reshape(info.height, info.width)
        self.palette = np.frombuffer(decoder.palette(), dtype=np.uint8).reshape(256, 3)
        self.rects = decoder.rects()
        self._sound = {track.number: _FrameSound(decoder, track, self.number)
                       for track in info.tracks if track.decoded}

    def rgb(self):
        """height x width x 3, uint8: each index looked up in the palette."""
        return self.palette[self.indices]

    def rgba(self):
        """height x width x 4, uint8, alpha 255."""
        rgba = np.empty(self.indices.shape + (4,), dtype=np.uint8)
        rgba[..., :3] = self.rgb()
        rgba[..., 3] = 255
        return rgba

    def sound(self, track=0):
        """The sound this frame's chunk brought to a track, samples x channels; its
        .position is where it sits on the movie's time line (see docs/library.md: the sound
        leads the pictures, so a frame's chunk plays somewhat after the frame's own time)."""
        try:
            sound = self._sound[track]
        except KeyError:
            raise Error("the movie has no such sound track, or it is not decoded", -11) from None
        if isinstance(sound, Error):
            raise sound
        return sound

    def __repr__(self):
        return f"Frame({self.number})"


class Movie:
    """A movie opened from a path (str or path object), its bytes (any buffer) or a binary
    file object (read to its end). len(movie) is its frame count, movie[n] seeks to frame n,
    iterating yields the frames from the next one on; `with` closes it. Decoding, seeking and
    building the index let other Python threads run meanwhile; one movie is for one thread
    at a time (a second thread's call while one decodes raises RuntimeError)."""

    def __init__(self, source, *, preload=False, loop=False, stored_height=False,
                 index_budget=None):
        if not isinstance(source, (str, bytes, bytearray, memoryview)) and hasattr(source,
                                                                                  "__fspath__"):
            source = _os.fspath(source)
        elif hasattr(source, "read"):
            # A file object: the rest of its bytes are the movie.
            source = source.read()
        self._source = source
        self._flags = ((_zambrel.OPEN_PRELOAD if preload else 0) |
                       (_zambrel.OPEN_LOOP if loop else 0) |
                       (_zambrel.OPEN_STORED_HEIGHT if stored_height else 0))
        self._decoder = _zambrel.Decoder(source, self._flags)
        if index_budget is not None:
            self._decoder.set_index_budget(index_budget)
        self.info = MovieInfo(self._decoder.info())
        self.frame = None  # the current Frame, once one is decoded

    def __len__(self):
        """The movie's frames (the ring frame not counted)."""
        return self.info.frame_count

    def __iter__(self):
        """The frames from the next one on (from frame 0 after the open or seek(0))."""
        while self._decoder.next_frame():
            self.frame = Frame(self._decoder, self.info)
            yield self.frame

    def __getitem__(self, number):
        """Frame `number` (negative counts from the end), by a seek: movie[n] is
        movie.seek(n)."""
        number = _operator.index(number)
        if number < 0:
            number += len(self)
        if not 0 <= number < len(self):
            raise IndexError(f"frame {number} of a movie of {len(self)} frames")
        return self.seek(number)

    def seek(self, number):
        """Makes frame `number` current and returns it; iterating goes on after it. Each
        track's queued sound (queued_sound) then starts with the sample due at its time."""
        self._decoder.seek(number)
        self.frame = Frame(self._decoder, self.info)
        return self.frame

    def picture(self, out=None, *, rgb=False):
        """The current frame's picture straight from the decoder, without a Frame's copies:
        height x width palette indices (uint8), or height x width x 3 colours with rgb=True,
        written into `out` (a C-contiguous uint8 array of that shape) when given."""
        if self.frame is None:
            raise Error("no frame decoded yet", -12)
        shape = (self.info.height, self.info.width) + ((3,) if rgb else ())
        if out is None:
            out = np.empty(shape, dtype=np.uint8)
        elif out.shape != shape or out.dtype != np.uint8:
            raise ValueError(f"out must be a uint8 array of shape {shape}")
        self._decoder.picture(_zambrel.PIX_RGB24 if rgb else _zambrel.PIX_INDEX8, out)
        return out

    def queued_sound(self, track=0):
        """Takes the sound queued for a track, samples x channels: after a seek it starts
        with the sample due at the frame's time, and each decoded frame adds its chunk. Its
        .position is where its first sample sits on the movie's time line."""
        facts = self.info.track(track)
        if not facts.decoded:
            raise Error("the movie has no such sound track, or it is not decoded", -11)
        position = self._decoder.sound_position(track)[1]
        pcm = _whole_samples(self._decoder.read_sound(track), facts,
                             self.frame.number if self.frame else 0, "sound queue")
        return Sound(pcm, facts, position)

    def build_index(self):
        """Decodes every frame once, so that later seeks start from a snapshot near their
        target; returns the index's bytes. Without it the index grows as frames are decoded."""
        return self._decoder.build_index()

    def sound(self, track=0):
        """A track's whole sound, samples x channels, decoded apart from this movie's place."""
        facts = self.info.track(track)
        if not facts.decoded:
            raise Error("the movie has no such sound track, or it is not decoded", -11)
        decoder = _zambrel.Decoder(self._source, self._flags & ~_zambrel.OPEN_LOOP)
        try:
            chunks = []
            while decoder.next_frame():
                chunks.append(decoder.frame_sound(track))
        finally:
            decoder.close()
        return Sound(b"".join(chunks), facts)

    def close(self):
        """Releases the decoder; later calls raise ValueError."""
        self._decoder.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return f"Movie({self.info!r})"


def open(source, **options):  # noqa: A001 - the module's one entry, named as io.open is
    """Opens a movie: a path, the movie's bytes or a binary file object. Options: preload,
    loop, stored_height, index_budget (bytes the seek index may take once the movie seeks or
    builds it; 64 MiB by default, 0 for none)."""
    return Movie(source, **options)
