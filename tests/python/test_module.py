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
