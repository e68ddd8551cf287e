"""vorlisk's environments as Gymnasium vector environments.

    import vorlisk_gymnasium
    envs = vorlisk_gymnasium.make_vec("CartPole-v1", num_envs=4096)   # instead of gym.make_vec

Each class here is a `gymnasium.vector.VectorEnv` over one of vorlisk's classes, with
Gymnasium's spaces, return types and same-step autoreset: a lane whose episode ends is
restarted within the step that ended it, its row of the returned observations already
starts the next episode, and the observation it reached is in
`info["final_obs"]` (an object array, with the mask `info["_final_obs"]`), as in
`gymnasium.vector.SyncVectorEnv(..., autoreset_mode=AutoresetMode.SAME_STEP)`.

There is one class for each of vorlisk's tasks, named after it (`CartPoleVectorEnv`
for `vorlisk.PyCartPoleVecEnv`, and so on); `make_vec` finds them by Gymnasium id.

Where vorlisk's classes knowingly differ from Gymnasium, these give Gymnasium's
behaviour: actions outside the action space are rejected with a ValueError (the classes
take any value and say what it does), and a task whose single-thread blocks approximate
its dynamics too coarsely follows the exact formulas on every lane. Episodes last as
long as Gymnasium's registration of the id allows (CartPole-v1: 500 steps, where
vorlisk's own class defaults to 200), unless `max_episode_steps` sets another limit.
What stays vorlisk's: the few rewards and bounds the README lists as vorlisk's own.

Needs Gymnasium 1.1 or newer; `import vorlisk` itself does not.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence, Union

import numpy as np

try:
    import gymnasium
    from gymnasium import spaces
    from gymnasium.utils import seeding
    from gymnasium.vector import AutoresetMode, VectorEnv
    from gymnasium.vector.utils import batch_space
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError(
        "vorlisk_gymnasium needs Gymnasium 1.1 or newer: pip install 'gymnasium>=1.1'"
    ) from error

import vorlisk

_SEED_LIMIT = 2**64


def _box(space: dict[str, Any]) -> spaces.Box:
    return spaces.Box(np.array(space["low"], np.float32), np.array(space["high"], np.float32),
                      shape=tuple(space["shape"]), dtype=np.float32)


class VorliskVectorEnv(VectorEnv):
    """What every task's class shares; a subclass names its vorlisk class."""

    _env_class: Any = None
    metadata = {"autoreset_mode": AutoresetMode.SAME_STEP, "render_modes": []}

    def __init__(self, num_envs: int, workers: Optional[int] = None, *,
                 max_episode_steps: Optional[int] = None):
        if max_episode_steps is None:
            max_episode_steps = gymnasium.spec(self._env_class._gymnasium["id"]).max_episode_steps
        self._env = self._env_class(num_envs, workers, max_episode_steps=max_episode_steps)
        self.num_envs = num_envs
        self.single_observation_space = _box(self._env.single_observation_space)
        action_space = self._env.single_action_space
        self._discrete = "n" in action_space
        if self._discrete:
            self.single_action_space = spaces.Discrete(action_space["n"], dtype=np.int32)
        else:
            self.single_action_space = _box(action_space)
        self.observation_space = batch_space(self.single_observation_space, num_envs)
        self.action_space = batch_space(self.single_action_space, num_envs)
        # Tasks whose blocks drift from Gymnasium's dynamics take the exact formulas on
        # every lane: one chunk on this thread with one worker, the chunks on the worker
        # pool otherwise (as `step` does then).
        exact = self._env_class._gymnasium["exact"]
        self._step = self._env._step_per_lane if exact else self._env.step

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
        return self._checked_discrete(a) if self._discrete else self._checked_continuous(a)

    def _checked_discrete(self, a: np.ndarray) -> np.ndarray:
        n = int(self.single_action_space.n)
        if a.shape != (self.num_envs,) or a.dtype.kind not in "iu":
            raise ValueError(f"actions must be {self.num_envs} integers in [0, {n}), "
                             f"got shape {a.shape} and dtype {a.dtype}")
        if a.size and (a.min() < 0 or a.max() >= n):
            raise ValueError(f"actions must lie in [0, {n}), got values from {a.min()} to {a.max()}")
        return np.ascontiguousarray(a, dtype=np.int32)

    def _checked_continuous(self, a: np.ndarray) -> np.ndarray:
        n = self.num_envs
        if a.shape not in ((n, 1), (n,)) or a.dtype.kind not in "fiu":
            raise ValueError(f"actions must be {n} values of shape ({n}, 1), "
                             f"got shape {a.shape} and dtype {a.dtype}")
        values = np.ascontiguousarray(a.reshape(n), dtype=np.float32)
        low, high = float(self.single_action_space.low[0]), float(self.single_action_space.high[0])
        inside = (values >= low) & (values <= high)
        if not inside.all():
            raise ValueError(f"actions must lie in [{low}, {high}], got {values[~inside][0]}")
        return values

    def close_extras(self, **kwargs: Any) -> None:
        self._env = None

    @property
    def vorlisk_env(self) -> Any:
        """The vorlisk object underneath, for `get_logs` and the like."""
        return self._env

    def __repr__(self) -> str:
        return f"{type(self).__name__}(num_envs={self.num_envs})"


def _adapter(env_class: Any) -> type[VorliskVectorEnv]:
    title = env_class.__name__.removeprefix("Py").removesuffix("VecEnv")
    return type(f"{title}VectorEnv", (VorliskVectorEnv,), {
        "__doc__": f"vorlisk's {title} as a Gymnasium vector environment.",
        "__module__": __name__,
        "_env_class": env_class,
    })


# Gymnasium's name of each task (the id without its version) and its class here.
_IDS = {}
for _name in vorlisk.envs.__all__:
    _class = _adapter(getattr(vorlisk.envs, _name))
    globals()[_class.__name__] = _class
    _IDS[_class._env_class._gymnasium["id"].split("-v")[0]] = _class

__all__ = [c.__name__ for c in _IDS.values()] + ["VorliskVectorEnv", "make_vec"]


def __getattr__(name: str) -> type[VorliskVectorEnv]:  # what type checkers see of the classes
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def make_vec(env_id: str, num_envs: int = 1, workers: Optional[int] = None, *,
             max_episode_steps: Optional[int] = None, **kwargs: Any) -> VorliskVectorEnv:
    """The vorlisk counterpart of `gymnasium.make_vec` for the Gymnasium id of any of
    vorlisk's tasks, such as "CartPole-v1" (any version suffix); `workers` >= 2 steps the
    lanes in that many chunks on vorlisk's worker pool; `max_episode_steps` replaces the
    limit Gymnasium registers for the id. Gymnasium's vectorisation
    arguments (`vectorization_mode`, `vector_kwargs`) are accepted and ignored; any other
    keyword is refused, since the tasks take no parameters here."""
    name = env_id.split("/")[-1].split("-v")[0]
    if name not in _IDS:
        raise ValueError(f"vorlisk has no environment {env_id!r}; it has {sorted(_IDS)}")
    unknown = set(kwargs) - {"vectorization_mode", "vector_kwargs"}
    if unknown:
        raise TypeError(f"make_vec got arguments vorlisk does not take: {sorted(unknown)}")
    return _IDS[name](num_envs, workers, max_episode_steps=max_episode_steps)

