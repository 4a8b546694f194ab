"""Several Python threads decoding, opening and giving frames back at once."""
import shutil
import threading

import numpy as np

import korloader as kl
from conftest import same_bits


def run_together(work, count):
    start = threading.Barrier(count)
    errors = []

    def run(n):
        start.wait()
        try:
            work(n)
        except BaseException as error:  # reported by the main thread
            errors.append(error)

    threads = [threading.Thread(target=run, args=(n,)) for n in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors


def test_concurrent_decodes_of_one_frame(frames, tmp_path):
    path = tmp_path / "big.kor"  # a frame of its own: nothing decoded yet
    shutil.copy(frames.path("big.kor"), path)
    f = kl.open(path)
    keys = ["smoke", "temperature"] * 2
    results = [None] * len(keys)

    def decode(n):
        results[n] = f.channel(keys[n])

    run_together(decode, len(keys))
    for key, values in zip(keys, results):
        assert same_bits(values.ravel(), frames.expected(f"big.{key}", np.float32))
    assert np.shares_memory(results[0], results[2])  # decoded once


def test_concurrent_opens_and_releases(frames):
    path = frames.path("grid.kor")
    expected = frames.expected("grid.smoke", np.float32).tobytes()

    def churn(n):
        for _ in range(40):
            smoke = kl.open(path)["smoke"]
            with kl.open(path) as f:
                group = f.group("sparks")
            assert smoke.tobytes() == expected and len(group) == 37
            del smoke, group  # given back on this thread, while others open

    run_together(churn, 4)
