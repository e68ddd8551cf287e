"""Stepping from several Python threads: large steps run without the GIL, so another
thread runs meanwhile; a second call into the same object while one steps is refused,
and objects of their own step side by side with the results they give alone."""

import threading
import time

import numpy as np
import pytest
from conftest import ENV_CLASSES, valid_actions

import vorlisk

BUSY = "step() is already running on this environment in another thread"
LANES = 1 << 17  # a step long enough (~0.1 ms and up) for the other thread to get in


def run(env, batches, steps):
    out = []
    for i in range(steps):
        out.append(env.step(batches[i % len(batches)]))
    return out


@pytest.mark.parametrize("call", ["step", "reset", "final_observations", "get_logs", "render"])
def test_a_call_on_an_object_that_is_stepping_elsewhere_raises(call):
    cls = vorlisk.envs.PyCartPoleVecEnv
    env = cls(LANES)
    env.reset(3)
    rng = np.random.default_rng(0)
    batches = [valid_actions(cls, LANES, rng) for _ in range(4)]
    stop, steps = threading.Event(), [0]

    def stepper():
        while not stop.is_set():
            env.step(batches[steps[0] % 4])
            steps[0] += 1

    calls = {"step": lambda: env.step(batches[0]), "reset": lambda: env.reset(1),
             "final_observations": env.final_observations, "get_logs": env.get_logs,
             "render": lambda: env.render(0)}
    thread = threading.Thread(target=stepper)
    thread.start()
    refused = False
    try:
        deadline = time.monotonic() + 20
        while not refused and time.monotonic() < deadline:
            try:
                calls[call]()
            except RuntimeError as error:
                assert str(error) == BUSY
                refused = True
    finally:
        stop.set()
        thread.join()
    assert refused
    if call == "step":
        # The refused calls changed nothing: the object went on as one stepped alone.
        alone = cls(LANES)
        alone.reset(3)
        expected = run(alone, batches, steps[0] + 1)[-1]
        got = env.step(batches[steps[0] % 4])
        for a, b in zip(got, expected):
            assert np.array_equal(a, b)


@pytest.mark.parametrize("cls", ENV_CLASSES[:3], ids=lambda cls: cls.__name__)
@pytest.mark.parametrize("workers", [1, 2])
def test_objects_of_their_own_step_side_by_side_as_alone(cls, workers):
    n, steps = 4096 + 9, 40
    rng = np.random.default_rng(1)
    batches = [valid_actions(cls, n, rng) for _ in range(5)]
    alone = []
    for seed in range(3):
        env = cls(n, workers)
        env.reset(seed)
        alone.append(run(env, batches, steps))
    together = [None] * 3

    def worker(seed):
        env = cls(n, workers)
        env.reset(seed)
        together[seed] = run(env, batches, steps)

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for a_run, b_run in zip(alone, together):
        for a, b in zip(a_run, b_run):
            assert all(np.array_equal(x, y) for x, y in zip(a, b))
