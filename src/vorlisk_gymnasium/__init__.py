"""vorlisk's environments as Gymnasium vector environments.

    import vorlisk_gymnasium
    envs = vorlisk_gymnasium.make_vec("CartPole-v1", num_envs=4096)   # instead of gym.make_vec

Each class here is a `gymnasium.vector.VectorEnv` over one of vorlisk's classes, with
Gymnasium's spaces, return types and same-step autoreset: a lane whose episode ends is
restarted within the step that ended it, its row of the returned observations already
starts the next episode, and the observation it reached is in
`info["final_obs"]` (an object array, with the mask `info["_final_obs"]`), as in
`gymnasium.vector.SyncVectorEnv(..., autoreset_mode=AutoresetMode.SAME_STEP)`.

Where vorlisk's classes knowingly differ from Gymnasium, these give Gymnasium's
behaviour: actions outside the action space are rejected with a ValueError (the classes
take any value and say what it does), and Pendulum follows the exact per-lane dynamics on
every lane (the classes' single-thread blocks approximate sine and cosine). What stays
vorlisk's: every episode ends after at most 200 steps (Gymnasium's CartPole-v1 allows
500), CartPole's step that ends an episode by failing earns 0 rather than 1, and its
pole-angle bound in the observation space is 0.418.

Needs Gymnasium 1.1 or newer; `import vorlisk` itself does not.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence, Union

import numpy as np

try:
    from gymnasium import spaces
    from gymnasium.utils import seeding
    from gymnasium.vector import AutoresetMode, VectorEnv
    from gymnasium.vector.utils import batch_space
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError(
        "vorlisk_gymnasium needs Gymnasium 1.1 or newer: pip install 'gymnasium>=1.1'"
    ) from error

import vorlisk

__all__ = ["CartPoleVectorEnv", "MountainCarVectorEnv", "PendulumVectorEnv", "make_vec"]

_SEED_LIMIT = 2**64


def _box(space: dict[str, Any]) -> spaces.Box:
    return spaces.Box(np.array(space["low"], np.float32), np.array(space["high"], np.float32),
                      shape=tuple(space["shape"]), dtype=np.float32)


class _VorliskVectorEnv(VectorEnv):
    """What the three classes share; a subclass names its vorlisk class."""

    _env_class: Any = None
    metadata = {"autoreset_mode": AutoresetMode.SAME_STEP, "render_modes": []}

    def __init__(self, num_envs: int, workers: Optional[int] = None):
        self._env = self._env_class(num_envs, workers)
        self.num_envs = num_envs
        self.single_observation_space = _box(self._env.single_observation_space)
        self.single_action_space = self._single_action_space()
        self.observation_space = batch_space(self.single_observation_space, num_envs)
        self.action_space = batch_space(self.single_action_space, num_envs)
        self._step = self._env.step

    def _single_action_space(self) -> spaces.Space[Any]:
        return spaces.Discrete(self._env.single_action_space["n"], dtype=np.int32)

    def reset(
        self,
        *,
        seed: Union[int, Sequence[Optional[int]], None] = None,
        options: Optional[dict[str, Any]] = None,
    ) -> tuple[np.ndarray, dict[str, Any]]:
        """Restarts every lane. Lane i of `seed` s starts like Gymnasium's sub-environment
        i of a vector environment reset with s (that is, from seed s + i); a list of seeds
        must therefore be consecutive. Without a seed the lanes continue from this
        object's random generator."""
        if options:
            raise ValueError(f"vorlisk's environments take no reset options, got {sorted(options)}")
        if seed is not None and not isinstance(seed, (int, np.integer)):
            seed = self._first_of_consecutive(seed)
        if seed is not None:
            if not 0 <= int(seed) < _SEED_LIMIT:
                raise ValueError(f"seed must lie in [0, 2**64), got {seed}")
            self._np_random, self._np_random_seed = seeding.np_random(int(seed))
            lane_seed = int(seed)
        else:
            lane_seed = int(self.np_random.integers(0, _SEED_LIMIT, dtype=np.uint64))
        return self._env.reset(lane_seed), {}

    def _first_of_consecutive(self, seeds: Sequence[Optional[int]]) -> Optional[int]:
        seeds = list(seeds)
        if len(seeds) != self.num_envs:
            raise ValueError(f"Expected {self.num_envs} seeds, got {len(seeds)}")
        if all(s is None for s in seeds):
            return None
        first = seeds[0]
        if first is None or any(s != first + i for i, s in enumerate(seeds)):
            raise ValueError("vorlisk seeds lane i with seed + i: a list of seeds must be "
                             "consecutive integers (or all None)")
        return first

    def step(
        self, actions: Any
    ) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray, dict[str, Any]]:
        obs, rewards, terminals, truncations = self._step(self._checked_actions(actions))
        # Fresh 0/1 bytes from the step: viewing them as booleans copies nothing.
        terminated = terminals.view(np.bool_)
        truncated = truncations.view(np.bool_)
        info: dict[str, Any] = {}
        lanes, finals = self._env.final_observations()
        if lanes.size:
            final_obs = np.full(self.num_envs, None, dtype=object)
            final_obs[lanes] = list(finals)
            mask = np.zeros(self.num_envs, dtype=np.bool_)
            mask[lanes] = True
            info = {"final_obs": final_obs, "_final_obs": mask, "final_info": {},
                    "_final_info": mask.copy()}
        return obs, rewards.astype(np.float64), terminated, truncated, info

    def _checked_actions(self, actions: Any) -> np.ndarray:
        a = np.asarray(actions)
        n = int(self._env.single_action_space["n"])
        if a.shape != (self.num_envs,) or a.dtype.kind not in "iu":
            raise ValueError(f"actions must be {self.num_envs} integers in [0, {n}), "
                             f"got shape {a.shape} and dtype {a.dtype}")
        if a.size and (a.min() < 0 or a.max() >= n):
            raise ValueError(f"actions must lie in [0, {n}), got values from {a.min()} to {a.max()}")
        return np.ascontiguousarray(a, dtype=np.int32)

    def close_extras(self, **kwargs: Any) -> None:
        self._env = None

    @property
    def vorlisk_env(self) -> Any:
        """The vorlisk object underneath, for `get_logs` and the like."""
        return self._env

    def __repr__(self) -> str:
        return f"{type(self).__name__}(num_envs={self.num_envs})"


class CartPoleVectorEnv(_VorliskVectorEnv):
    """vorlisk's CartPole as a Gymnasium vector environment (actions 0 and 1)."""

    _env_class = vorlisk.PyCartPoleVecEnv


class MountainCarVectorEnv(_VorliskVectorEnv):
    """vorlisk's MountainCar as a Gymnasium vector environment (actions 0, 1 and 2)."""

    _env_class = vorlisk.PyMountainCarVecEnv


class PendulumVectorEnv(_VorliskVectorEnv):
    """vorlisk's Pendulum as a Gymnasium vector environment: actions of shape
    (num_envs, 1) in [-2, 2], every lane on the exact per-lane dynamics."""

    _env_class = vorlisk.PyPendulumVecEnv

    def __init__(self, num_envs: int, workers: Optional[int] = None):
        super().__init__(num_envs, workers)
        # The per-lane formulas on every lane: one chunk on this thread with one worker,
        # the chunks on the worker pool otherwise (as `step` does then).
        self._step = self._env._step_per_lane

    def _single_action_space(self) -> spaces.Space[Any]:
        return _box(self._env.single_action_space)

    def _checked_actions(self, actions: Any) -> np.ndarray:
        a = np.asarray(actions)
        if a.shape not in ((self.num_envs, 1), (self.num_envs,)) or a.dtype.kind not in "fiu":
            raise ValueError(f"actions must be {self.num_envs} torques of shape ({self.num_envs}, 1), "
                             f"got shape {a.shape} and dtype {a.dtype}")
        torques = np.ascontiguousarray(a.reshape(self.num_envs), dtype=np.float32)
        if torques.size and not (np.all(torques >= -2.0) and np.all(torques <= 2.0)):
            bad = torques[~((torques >= -2.0) & (torques <= 2.0))][0]
            raise ValueError(f"torques must lie in [-2.0, 2.0], got {bad}")
        return torques


_IDS = {
    "CartPole": CartPoleVectorEnv,
    "MountainCar": MountainCarVectorEnv,
    "Pendulum": PendulumVectorEnv,
}


def make_vec(env_id: str, num_envs: int = 1, workers: Optional[int] = None,
             **kwargs: Any) -> _VorliskVectorEnv:
    """The vorlisk counterpart of `gymnasium.make_vec` for "CartPole-v1",
    "MountainCar-v0" and "Pendulum-v1" (any version suffix); `workers` >= 2 steps the
    lanes in that many chunks on vorlisk's worker pool. Gymnasium's vectorisation
    arguments (`vectorization_mode`, `vector_kwargs`) are accepted and ignored; any other
    keyword is refused, since the tasks take no parameters here."""
    name = env_id.split("/")[-1].split("-v")[0]
    if name not in _IDS:
        raise ValueError(f"vorlisk has no environment {env_id!r}; it has {sorted(_IDS)}")
    unknown = set(kwargs) - {"vectorization_mode", "vector_kwargs"}
    if unknown:
        raise TypeError(f"make_vec got arguments vorlisk does not take: {sorted(unknown)}")
    return _IDS[name](num_envs, workers)

