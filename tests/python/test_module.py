# SPDX-License-Identifier: MIT
"""The Python module held to the C decoder handle on the library tests' movies, and to
zmbtool's own decoding of the demo."""
import os
import random
import subprocess
from fractions import Fraction
from pathlib import Path

import numpy as np
import pytest

import zambrel


@pytest.fixture(scope="module")
def movies(tmp_path_factory):
    folder = tmp_path_factory.mktemp("movies")
    subprocess.run([os.environ["ZAMBREL_REFERENCE_MOVIES"], str(folder)], check=True)
    return sorted(folder.glob("*.zmb"))


def reference_frames(movie_path, info):
    data = Path(movie_path).with_suffix(".frames").read_bytes()
    size = 768 + info.width * info.height
    assert len(data) % size == 0
    for start in range(0, len(data), size):
        palette = np.frombuffer(data, np.uint8, 768, start).reshape(256, 3)
        indices = np.frombuffer(data, np.uint8, size - 768, start + 768)
        yield palette, indices.reshape(info.height, info.width)


def reference_sound(movie_path, track):
    return Path(movie_path).with_suffix(f".track{track.number}.pcm").read_bytes()


def test_frames_and_sound_equal_the_c_handle_from_a_path_and_from_bytes(movies):
    assert len(movies) >= 8  # every kind the library tests hold the two interfaces to
    for path in movies:
        for source in (path, str(path), path.read_bytes(), bytearray(path.read_bytes())):
            with zambrel.open(source) as movie:
                info = movie.info
                expected = list(reference_frames(path, info))
                frames = list(movie)
                assert len(frames) == len(expected) == info.frame_count, path.name
                for number, (frame, (palette, indices)) in enumerate(zip(frames, expected)):
                    assert frame.number == number
                    assert np.array_equal(frame.palette, palette), (path.name, number)
                    assert np.array_equal(frame.indices, indices), (path.name, number)
                    assert np.array_equal(frame.rgb(), palette[indices])
                    assert np.array_equal(frame.rgba()[..., :3], frame.rgb())
                    assert (frame.rgba()[..., 3] == 255).all()
                for track in info.tracks:
                    if not track.decoded:
                        continue
                    pcm = reference_sound(path, track)
                    chunks = b"".join(frame.sound(track.number).tobytes() for frame in frames)
                    assert chunks == pcm, (path.name, track)
                    whole = movie.sound(track.number)
                    assert whole.tobytes() == pcm and whole.rate == track.rate
                    assert whole.shape == (len(pcm) // (track.bits // 8 * track.channels),
                                           track.channels)
                    assert whole.dtype == (np.uint8 if track.bits == 8 else np.dtype("<i2"))


def test_seeks_give_the_frames_iteration_gives(movies):
    chooser = random.Random(7)
    for path in movies:
        with zambrel.open(path) as movie:
            expected = list(reference_frames(path, movie.info))
            for number in chooser.sample(range(len(expected)), min(6, len(expected))):
                frame = movie.seek(number)
                assert frame.number == number
                assert np.array_equal(frame.indices, expected[number][1]), (path.name, number)
                # Iterating goes on after the frame sought.
                following = next(iter(movie), None)
                if number + 1 < len(expected):
                    assert np.array_equal(following.indices, expected[number + 1][1])
                else:
                    assert following is None


def test_the_demo_equals_zmbtools_decoding(tmp_path):
    demo = os.environ["ZAMBREL_DEMO"]
    subprocess.run([os.environ["ZAMBREL_ZMBTOOL"], "decode", demo, "--rgb24",
                    str(tmp_path / "demo.rgb"), "--pcm", str(tmp_path)], check=True)
    with zambrel.open(demo) as movie:
        info = movie.info
        assert info.frame_duration == Fraction(info.frame_duration.numerator,
                                               info.frame_duration.denominator) > 0
        pictures = np.fromfile(tmp_path / "demo.rgb", np.uint8).reshape(-1, info.height,
                                                                         info.width, 3)
        frames = 0
        for frame, picture in zip(movie, pictures):
            assert np.array_equal(frame.rgb(), picture), frame.number
            frames += 1
        assert frames == len(pictures) == info.frame_count
        for track in info.tracks:
            pcm = (tmp_path / f"track{track.number}.pcm").read_bytes()
            assert movie.sound(track.number).tobytes() == pcm


def test_failures_raise_the_librarys_reason(tmp_path, movies):
    with pytest.raises(zambrel.Error) as missing:
        zambrel.open(tmp_path / "missing.zmb")
    reason, code = missing.value.args
    assert code == -3 and "open" in reason.lower()
    with pytest.raises(zambrel.Error) as not_a_movie:
        zambrel.open(b"this is not a movie, only some text" * 10)
    assert not_a_movie.value.args[1] == -5
    whole = movies[0].read_bytes()
    with pytest.raises(zambrel.Error):
        zambrel.open(whole[:64])
    movie = zambrel.open(whole)
    with pytest.raises(zambrel.Error):
        movie.info.track(6) if all(t.number != 6 for t in movie.info.tracks) else movie.sound(99)
    movie.close()
    with pytest.raises(ValueError):
        movie.seek(0)


def test_frame_sound_positions_add_up_and_damage_names_its_frame(movies, tmp_path):
    for path in movies:
        with zambrel.open(path) as movie:
            frames = list(movie)
            for track in [t for t in movie.info.tracks if t.decoded]:
                expected = 0
                for frame in frames:
                    sound = frame.sound(track.number)
                    assert sound.position == expected, (path.name, frame.number)
                    expected += len(sound)
    demo = Path(os.environ["ZAMBREL_DEMO"]).read_bytes()
    with zambrel.open(demo[: len(demo) // 2]) as cut:
        frames = 0
        with pytest.raises(zambrel.Error) as damage:
            for _ in cut:
                frames += 1
        reason, code, frame = damage.value.args
        assert code == -4 and frame == frames and f"frame {frames} of" in reason


def test_seeks_through_the_index_give_the_frames_iteration_gives(movies):
    for path in movies:
        with zambrel.open(path, index_budget=1 << 20) as movie:
            expected = [frame.indices.copy() for frame in movie]
            assert movie.build_index() > 0 or len(expected) < 2
            for number in reversed(range(len(expected))):
                assert np.array_equal(movie.seek(number).indices, expected[number])


def hostile_copies(whole, count, seed):
    """Seeded damage of every kind a file meets: cuts, bytes overwritten in the header and
    tables, and runs of noise over the frames."""
    chooser = random.Random(seed)
    for _ in range(count):
        copy = bytearray(whole)
        kind = chooser.randrange(3)
        if kind == 0:
            copy = copy[:chooser.randrange(len(copy))]
        else:
            start = chooser.randrange(104) if kind == 1 else chooser.randrange(len(copy))
            for at in range(start, min(len(copy), start + chooser.randrange(1, 24))):
                copy[at] = chooser.randrange(256)
        yield bytes(copy)


def decode_everything(source):
    with zambrel.open(source) as movie:
        for frame in movie:
            frame.rgb()
            for track in movie.info.tracks:
                if track.decoded:
                    frame.sound(track.number)
        if len(movie):
            movie[len(movie) // 2]


def test_hostile_movies_raise_only_zambrel_errors_through_every_source(movies, tmp_path):
    """Whatever the damage, every way in either decodes or raises zambrel.Error: never a
    numpy error, an IndexError or a crash."""
    outcomes = set()
    for number, copy in enumerate(hostile_copies(movies[1].read_bytes(), 60, 3)):
        path = tmp_path / f"hostile{number}.zmb"
        path.write_bytes(copy)
        for source in (path, copy, memoryview(copy)):
            try:
                decode_everything(source)
                outcomes.add("decoded")
            except zambrel.Error as error:
                assert isinstance(error.reason, str) and error.code < 0
                outcomes.add(type(error).__name__)
        with open(path, "rb") as file:
            try:
                decode_everything(file)
            except zambrel.Error:
                pass
    assert {"decoded", "DamagedError"} <= outcomes


def test_errors_are_also_the_builtin_kinds(tmp_path, movies):
    with pytest.raises(OSError) as missing:
        zambrel.open(tmp_path / "missing.zmb")
    assert isinstance(missing.value, zambrel.ReadError) and missing.value.code == -3
    assert str(missing.value) == missing.value.reason
    with pytest.raises(ValueError) as text:
        zambrel.open(b"this is not a movie, only some text" * 10)
    assert isinstance(text.value, zambrel.NotAMovieError)
    demo = Path(os.environ["ZAMBREL_DEMO"]).read_bytes()
    with zambrel.open(demo[: len(demo) // 2]) as cut, pytest.raises(ValueError) as damage:
        list(cut)
    assert isinstance(damage.value, zambrel.DamagedError) and damage.value.frame is not None
    assert str(damage.value).startswith(f"frame {damage.value.frame}: ")


def test_movies_index_and_decode_into_the_callers_array(movies):
    for path in movies:
        with zambrel.open(path) as movie:
            expected = list(reference_frames(path, movie.info))
            assert len(movie) == len(expected)
            for number in (len(movie) - 1, 0, -1, len(movie) // 2):
                frame = movie[number]
                assert frame.number == number % len(movie)
                assert np.array_equal(frame.indices, expected[number][1])
            out = np.zeros((movie.info.height, movie.info.width), np.uint8)
            assert movie.picture(out) is out
            assert np.array_equal(out, expected[len(movie) // 2][1])
            colours = movie.picture(rgb=True)
            assert np.array_equal(colours, expected[len(movie) // 2][0][out])
            with pytest.raises(IndexError):
                movie[len(movie)]
            with pytest.raises(ValueError):
                movie.picture(np.zeros((2, 2), np.uint8))


def test_sound_queued_after_a_seek_starts_at_the_sample_due(movies):
    checked = 0
    for path in movies:
        with zambrel.open(path) as movie:
            info = movie.info
            whole = {t.number: movie.sound(t.number) for t in info.tracks if t.decoded}
            if info.frame_duration == 0 or not whole:
                continue
            target = len(movie) // 2
            movie.seek(target)
            for number, sound in whole.items():
                queued = movie.queued_sound(number)
                due = int(target * info.frame_duration * sound.rate)
                assert queued.position == due, (path.name, number)
                assert np.array_equal(queued, sound[due:due + len(queued)])
                assert len(queued) > 0
                checked += 1
    assert checked > 0


def test_other_threads_run_while_a_movie_decodes():
    """The interpreter lock is let go around decoding: while one thread is inside a long
    seek, another thread's Python code runs. Held, no count could move during a call."""
    import sys
    import threading
    import time

    demo = Path(os.environ["ZAMBREL_DEMO"]).read_bytes()
    count, stop = [0], threading.Event()

    def counting():
        while not stop.is_set():
            count[0] += 1
            time.sleep(0.0002)  # lets go of the lock, so the seeking thread never waits

    # A long switch interval: the lock changes hands only when a thread lets go of it, as the
    # counter does in each sleep and a seek must.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(5.0)
    counter = threading.Thread(target=counting)
    counter.start()
    moved = 0
    try:
        # Without an index each seek to the end decodes the whole movie in one call.
        with zambrel.open(demo, index_budget=0) as movie:
            decoder = movie._decoder  # the native call alone: numpy lets go of the lock too
            for _ in range(40):
                decoder.seek(0)
                before = count[0]
                decoder.seek(len(movie) - 1)
                moved += count[0] > before
    finally:
        stop.set()
        counter.join()
        sys.setswitchinterval(interval)
    assert moved >= 20


def test_the_documented_examples_pass_strict_type_checks(tmp_path):
    """The package's stubs against the examples of docs/python.md, as a user's checker sees
    them (the PIL of the tutorial may be missing here: only its import is let go)."""
    pytest.importorskip("mypy")
    import re
    import sys

    page = Path(__file__).resolve().parents[2] / "docs" / "python.md"
    examples = re.findall(r"```python\n(.*?)```", page.read_text(), re.S)
    assert len(examples) >= 3
    for number, example in enumerate(examples):
        (tmp_path / f"example{number}.py").write_text(example)
    # An installed package is found as the interpreter finds it; a build tree's is named.
    package = Path(zambrel.__file__).resolve().parents[1]
    installed = package.name in ("site-packages", "dist-packages")
    env = {**os.environ, **({} if installed else {"MYPYPATH": str(package)})}
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--ignore-missing-imports",
                             "--no-incremental", *map(str, sorted(tmp_path.glob("*.py")))],
                            env=env, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
