"""What the Python tests share: the environment class of every task, in the module's
order, actions for any of them, and a digest that holds a run's bits fixed."""

import hashlib
import platform

import numpy as np
import pytest

import vorlisk

ENV_CLASSES = [getattr(vorlisk.envs, name) for name in vorlisk.envs.__all__]
each_env = pytest.mark.parametrize("cls", ENV_CLASSES, ids=lambda cls: cls.__name__)

# The digests below were recorded with this C library's sinf and cosf; any correctly
# rounded library may differ in the last bit.
recorded_bits = pytest.mark.skipif(platform.libc_ver() != ("glibc", "2.36"),
                                   reason="bits recorded with glibc 2.36's sinf and cosf")


def actions(space, n, rng, wild=False):
    """`n` actions for a class's single action space: valid ones, or with `wild` also
    some beyond it (the classes take any value)."""
    if "n" in space:
        return rng.integers(-wild, space["n"] + wild, n).astype(np.int32)
    scale = 1.25 if wild else 1.0
    return rng.uniform(scale * space["low"][0], scale * space["high"][0], n).astype(np.float32)


def valid_actions(cls, n, rng):
    return actions(cls(1).single_action_space, n, rng)


def trajectory_digest(cls, num_envs, workers, exact=False, steps=450, seed=11):
    """A hash of everything a run with wild actions returns: observations, rewards,
    flags, final observations and the log."""
    env = cls(num_envs, workers)
    rng = np.random.default_rng(seed)
    digest = hashlib.sha256(env.reset(seed).tobytes())
    step = env._step_per_lane if exact else env.step
    for _ in range(steps):
        for array in step(actions(env.single_action_space, num_envs, rng, wild=True)):
            digest.update(array.tobytes())
        for array in env.final_observations():
            digest.update(array.tobytes())
    digest.update(repr(sorted(env.get_logs().items())).encode())
    return digest.hexdigest()[:16]


def path_digests(cls):
    """The digests of 37 lanes (four blocks and a tail) on each path: the blocks of one
    worker, three chunks, and the exact formulas on one thread."""
    return {"blocks": trajectory_digest(cls, 37, 1), "chunks": trajectory_digest(cls, 37, 3),
            "exact": trajectory_digest(cls, 37, 1, exact=True)}


def gymnasium_steps(cls, seed, lane_actions, state_of=lambda obs: obs.astype(np.float64)):
    """Steps one lane of `cls`, and Gymnasium's environment of the same task from the
    lane's exact state with the same action; yields both results for each action. The
    lane's observation is the one it reached, before any restart."""
    gym = pytest.importorskip("gymnasium")
    reference = gym.make(cls._gymnasium["id"]).unwrapped
    reference.reset(seed=0)
    env = cls(1)
    obs = env.reset(seed)[0]
    discrete = "n" in env.single_action_space
    for action in lane_actions:
        reference.state = state_of(obs)
        reference.steps_beyond_terminated = None
        expected = reference.step(int(action) if discrete else np.array([action], np.float32))
        next_obs, rewards, terminals, truncations = env.step(np.array([action], lane_actions.dtype))
        finished = terminals[0] or truncations[0]
        reached = env.final_observations()[1][0] if finished else next_obs[0]
        yield (reached, rewards[0], terminals[0], truncations[0]), expected
        obs = next_obs[0]


def first_episodes_beside_gymnasium(cls, num_envs, seed, policy, start_states, horizon):
    """Steps `num_envs` lanes of `cls` with policy(observations) until each lane's first
    episode has terminated (for at most `horizon` steps, fewer than the episode limit),
    then replays each lane's actions in Gymnasium's environment of the task started from
    the lane's exact start state (start_states(env, observations): a row per lane).
    Yields per lane, up to the step where either side terminated: (observations,
    Gymnasium's observations, rewards, Gymnasium's rewards, the step on which the lane
    terminated, the step on which Gymnasium's did), a step 0 meaning not at all."""
    gym = pytest.importorskip("gymnasium")
    env = cls(num_envs)
    obs = env.reset(seed)
    starts = start_states(env, obs)
    steps, ends = [], np.zeros(num_envs, int)
    while len(steps) < horizon and not ends.all():
        actions = policy(obs)
        obs, rewards, terminals, _ = env.step(actions)
        lanes, finals = env.final_observations()
        reached = obs.copy()
        reached[lanes] = finals
        steps.append((actions, reached, rewards))
        ends[(ends == 0) & (terminals == 1)] = len(steps)
    reference = gym.make(cls._gymnasium["id"]).unwrapped
    reference.reset(seed=0)
    discrete = "n" in env.single_action_space
    for lane in range(num_envs):
        reference.state = starts[lane].copy()
        mine, theirs, their_end = [], [], 0
        for step, (actions, reached, rewards) in enumerate(steps, start=1):
            action = int(actions[lane]) if discrete else actions[lane:lane + 1]
            ref_obs, ref_reward, terminated, _, _ = reference.step(action)
            mine.append((*reached[lane], rewards[lane]))
            theirs.append((*ref_obs, ref_reward))
            their_end = step if terminated else 0
            if terminated or ends[lane] == step:
                break
        mine, theirs = np.array(mine), np.array(theirs)
        yield mine[:, :-1], theirs[:, :-1], mine[:, -1], theirs[:, -1], ends[lane], their_end


def gymnasium_states(env, obs):
    """Each lane's state as Gymnasium's environment of the task holds it, from the class's
    exact state where it keeps one, else from the observations `obs`."""
    if hasattr(env, "_state"):
        return env._state()
    obs = obs.astype(np.float64)
    if env._gymnasium["id"] == "Pendulum-v1":  # cos, sin, speed -> angle, speed
        return np.stack([np.arctan2(obs[:, 1], obs[:, 0]), obs[:, 2]], axis=1)
    return obs
