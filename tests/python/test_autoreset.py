"""What becomes of a finished lane in each autoreset mode, and resets of chosen lanes,
each case run against every class on both of its paths."""

import numpy as np
import pytest
from conftest import each_env, valid_actions

pytestmark = pytest.mark.sanitize  # also run against the ASan build in CI

N, LIMIT = 150, 9  # blocks, a tail, and chunks that start inside a word of lane bits; short
# episodes, which end often


def record_same_step(cls, workers, steps, rng):
    """Actions and everything a same-step run returns, with each finished lane's row
    of the observations replaced by the observation it reached (`reached`)."""
    env = cls(N, workers, max_episode_steps=LIMIT)
    first = env.reset(3)
    run = []
    for _ in range(steps):
        actions = valid_actions(cls, N, rng)
        obs, rewards, terminals, truncations = env.step(actions)
        lanes, finals = env.final_observations()
        reached = obs.copy()
        reached[lanes] = finals
        run.append((actions, obs, reached, rewards, terminals | truncations, terminals))
    return first, run


@each_env
@pytest.mark.parametrize("workers", [1, 3])
def test_next_step_is_same_step_with_a_restart_step_between_episodes(cls, workers):
    rng = np.random.default_rng(5)
    first, run = record_same_step(cls, workers, 60, rng)
    env = cls(N, workers, max_episode_steps=LIMIT, autoreset_mode="next_step")
    assert env.autoreset_mode == "next_step"
    assert np.array_equal(env.reset(3), first)
    clock = np.zeros(N, int)  # each lane's position in the same-step run
    pending = np.zeros(N, bool)
    while (clock < len(run)).all():
        actions = valid_actions(cls, N, rng)  # what pending lanes must ignore
        for lane in np.flatnonzero(~pending):
            actions[lane] = run[clock[lane]][0][lane]
        obs, rewards, terminals, truncations = env.step(actions)
        lanes, finals = env.final_observations()
        done = (terminals | truncations).astype(bool)
        for lane in range(N):
            if pending[lane]:  # the lane's next episode, as same-step began it
                expected = (run[clock[lane] - 1][1][lane], 0.0, 0, 0)
            else:
                _, _, reached, r, ended, term = (x[lane] for x in run[clock[lane]])
                expected = (reached, r, ended, term)
                clock[lane] += 1
            got = (obs[lane], rewards[lane], done[lane], terminals[lane])
            assert all(np.array_equal(g, e) for g, e in zip(got, expected)), lane
        assert np.array_equal(lanes, np.flatnonzero(done))
        assert np.array_equal(finals, obs[done])
        pending = done


@each_env
@pytest.mark.parametrize("workers", [1, 3])
def test_disabled_holds_finished_lanes_until_a_masked_reset_restarts_them(cls, workers):
    rng = np.random.default_rng(8)
    env = cls(N, workers, max_episode_steps=LIMIT, autoreset_mode="disabled")
    twin = cls(N, workers, max_episode_steps=LIMIT, autoreset_mode="disabled")
    env.reset(4), twin.reset(4)
    held, episodes = None, 0
    for _ in range(LIMIT + 3):
        actions = valid_actions(cls, N, rng)
        obs, rewards, terminals, truncations = env.step(actions)
        twin.step(actions)
        done = (terminals | truncations).astype(bool)
        if held is not None:  # lanes held before this step: unmoved, unpaid, still done
            assert np.array_equal(obs[held], last_obs[held])
            assert not rewards[held].any() and done[held].all()
            episodes += (done & ~held).sum()
        else:
            episodes += done.sum()
        held, last_obs = done, obs
    assert held.all() and env.get_logs()["episode_count"] == episodes == N
    lanes, finals = env.final_observations()
    assert np.array_equal(lanes, np.arange(N)) and np.array_equal(finals, last_obs)

    mask = np.arange(N) % 3 == 0
    fresh = cls(N, workers, max_episode_steps=LIMIT, autoreset_mode="disabled")
    start = env.reset(10, mask=mask)
    assert np.array_equal(start[mask], fresh.reset(10)[mask])
    assert np.array_equal(start[~mask], last_obs[~mask])
    assert np.array_equal(env.final_observations()[0], np.flatnonzero(~mask))
    for _ in range(2 * LIMIT):  # restarted lanes as a full reset starts them, others held
        actions = valid_actions(cls, N, rng)
        got, want = env.step(actions), fresh.step(actions)
        for g, w in zip(got, want):
            assert np.array_equal(g[mask], w[mask])
        assert np.array_equal(got[0][~mask], last_obs[~mask])


@each_env
def test_a_masked_reset_in_same_step_mode_leaves_other_lanes_running(cls):
    rng = np.random.default_rng(2)
    env, twin = cls(N), cls(N)
    env.reset(1), twin.reset(1)
    for _ in range(5):
        actions = valid_actions(cls, N, rng)
        env.step(actions), twin.step(actions)
    mask = np.zeros(N, np.uint8)
    mask[[0, 9, 20, 149]] = 1
    restarted = env.reset(6, mask=mask)
    assert np.array_equal(restarted[mask == 1], cls(N).reset(6)[mask == 1])
    for _ in range(30):
        actions = valid_actions(cls, N, rng)
        for got, want in zip(env.step(actions), twin.step(actions)):
            assert np.array_equal(got[mask == 0], want[mask == 0])


@each_env
@pytest.mark.parametrize(
    "mask, error, text",
    [
        ([True] * N, TypeError, "mask"),
        (np.ones(N, np.int64), TypeError, "mask"),
        (np.ones((N, 1), bool), TypeError, "mask"),
        (np.ones(N - 1, bool), ValueError, f"^Expected a mask of {N} lanes, got {N - 1}$"),
        (np.ones(2 * N, bool)[::2], ValueError, "contiguous"),
    ],
)
def test_reset_rejects_bad_masks_and_changes_nothing(cls, mask, error, text):
    env, twin = cls(N), cls(N)
    env.reset(0), twin.reset(0)
    with pytest.raises(error, match=text):
        env.reset(1, mask=mask)
    with pytest.raises(TypeError, match="1 positional argument"):
        env.reset(1, np.ones(N, bool))
    actions = valid_actions(cls, N, np.random.default_rng(0))
    assert np.array_equal(env.step(actions)[0], twin.step(actions)[0])
