"""Stepping from several Python threads: large steps let the GIL go, so another thread
runs meanwhile; a call into an object while it steps elsewhere is refused and changes
nothing; objects of their own step side by side as they do alone."""

import threading
import time

import numpy as np
import pytest
from conftest import ENV_CLASSES, valid_actions

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI

BUSY = "step() is already running on this environment in another thread"


def run(env, seed, batches, steps):
    env.reset(seed)
    return [env.step(batches[i % len(batches)]) for i in range(steps)]


@pytest.mark.parametrize("call, args", [("step", None), ("reset", (1,)), ("final_observations", ()),
                                        ("get_logs", ()), ("render", (0,))])
def test_a_call_on_an_object_stepping_elsewhere_raises_and_changes_nothing(call, args):
    cls, n = ENV_CLASSES[0], 1 << 17  # a step of ~0.1 ms or more
    env, batches = cls(n), [valid_actions(cls, n, np.random.default_rng(s)) for s in range(4)]
    env.reset(3)
    stop, steps, refused = threading.Event(), [0], False

    def stepper():
        while not stop.is_set():
            env.step(batches[steps[0] % 4])
            steps[0] += 1

    thread = threading.Thread(target=stepper)
    thread.start()
    try:
        deadline = time.monotonic() + 20
        while not refused and time.monotonic() < deadline:
            try:
                getattr(env, call)(*(batches[:1] if args is None else args))
            except RuntimeError as error:
                refused = str(error) == BUSY
    finally:
        stop.set()
        thread.join()
    assert refused
    if call == "step":  # the object went on as if stepped alone
        expected = run(cls(n), 3, batches, steps[0] + 1)[-1]
        assert all(np.array_equal(a, b) for a, b in zip(env.step(batches[steps[0] % 4]), expected))


@pytest.mark.parametrize("cls", ENV_CLASSES[:3], ids=lambda cls: cls.__name__)
def test_objects_of_their_own_step_side_by_side_as_alone(cls):
    n, rng = 4096 + 9, np.random.default_rng(1)
    batches = [valid_actions(cls, n, rng) for _ in range(5)]
    alone = [run(cls(n, seed % 2 + 1), seed, batches, 40) for seed in range(3)]
    together = [None] * 3

    def worker(seed):
        together[seed] = run(cls(n, seed % 2 + 1), seed, batches, 40)

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for a, b in zip(alone, together):
        assert all(np.array_equal(x, y) for s, t in zip(a, b) for x, y in zip(s, t))
