# SPDX-License-Identifier: MIT
# The package's types, for type checkers; the package itself is __init__.py.
import os
from fractions import Fraction
from types import TracebackType
from typing import Iterator, Optional, Union

import numpy as np
import numpy.typing as npt

__version__: str

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview]

class Error(Exception):
    @property
    def reason(self) -> str: ...
    @property
    def code(self) -> int: ...
    @property
    def frame(self) -> Optional[int]: ...

class NotAMovieError(Error, ValueError): ...
class DamagedError(Error, ValueError): ...
class ReadError(Error, OSError): ...

class Track:
    number: int
    rate: int
    channels: int
    bits: int
    compressed: bool
    decoded: bool
    @property
    def dtype(self) -> np.dtype[np.generic]: ...

class MovieInfo:
    width: int
    height: int
    stored_height: int
    frame_count: int
    frame_duration: Fraction
    duration: Fraction
    ring: bool
    interlaced: bool
    doubled: bool
    largest_frame: int
    tracks: list[Track]
    def track(self, number: int) -> Track: ...

class Sound(np.ndarray[tuple[int, int], np.dtype[np.generic]]):
    rate: int
    position: int

class Frame:
    number: int
    palette_changed: bool
    indices: npt.NDArray[np.uint8]
    palette: npt.NDArray[np.uint8]
    rects: list[tuple[int, int, int, int]]
    def rgb(self) -> npt.NDArray[np.uint8]: ...
    def rgba(self) -> npt.NDArray[np.uint8]: ...
    def sound(self, track: int = ...) -> Sound: ...

class Movie:
    info: MovieInfo
    frame: Optional[Frame]
    def __init__(self, source: Source, *, preload: bool = ..., loop: bool = ...,
                 stored_height: bool = ..., index_budget: Optional[int] = ...) -> None: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Frame]: ...
    def __getitem__(self, number: int) -> Frame: ...
    def seek(self, number: int) -> Frame: ...
    def picture(self, out: Optional[npt.NDArray[np.uint8]] = ..., *,
                rgb: bool = ...) -> npt.NDArray[np.uint8]: ...
    def queued_sound(self, track: int = ...) -> Sound: ...
    def build_index(self) -> int: ...
    def sound(self, track: int = ...) -> Sound: ...
    def close(self) -> None: ...
    def __enter__(self) -> Movie: ...
    def __exit__(self, kind: Optional[type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None: ...

def open(source: Source, *, preload: bool = ..., loop: bool = ..., stored_height: bool = ...,
         index_budget: Optional[int] = ...) -> Movie: ...
