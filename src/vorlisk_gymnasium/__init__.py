"""vorlisk's environments as Gymnasium vector environments.

    import vorlisk_gymnasium
    envs = vorlisk_gymnasium.make_vec("CartPole-v1", num_envs=4096)   # instead of gym.make_vec

Each class here is a `gymnasium.vector.VectorEnv` over one of vorlisk's classes, with
Gymnasium's spaces, return types, infos and autoreset modes, which vorlisk's engine
carries out itself:
- NEXT_STEP (the default, as in Gymnasium): the step after a lane's episode ended
  returns its first observation, with reward 0 and both flags false, and ignores its
  action;
- SAME_STEP: the lane restarts within the step that ended it, and the observation it
  reached is in `info["final_obs"]` (an object array, with the mask `info["_final_obs"]`);
- DISABLED: a finished lane holds until `reset(options={"reset_mask": mask})` restarts it.
`make_vec(..., vector_kwargs={"autoreset_mode": AutoresetMode.SAME_STEP})` chooses one.

There is one class for each of vorlisk's tasks, named after it (`CartPoleVectorEnv`
for `vorlisk.PyCartPoleVecEnv`, and so on); `make_vec` finds them by Gymnasium id.

Where vorlisk's classes knowingly differ from Gymnasium, these give Gymnasium's
behaviour: discrete actions outside the action space are rejected with a ValueError
and continuous ones are clipped to it (the classes take any value and say what it
does), and a task whose single-thread blocks approximate its dynamics too coarsely
follows the exact formulas on every lane. Episodes last as long as Gymnasium's
registration of the id allows (CartPole-v1: 500 steps, where vorlisk's own class
defaults to 200), unless `max_episode_steps` sets another limit. What stays vorlisk's:
the few rewards and bounds the README lists as vorlisk's own.

Needs Gymnasium 1.1 or newer; `import vorlisk` itself does not.
"""

from __future__ import annotations

import dataclasses
from typing import Any, Optional, Sequence, Union

import numpy as np

try:
    import gymnasium
    from gymnasium import spaces
    from gymnasium.envs.registration import EnvSpec, VectorizeMode, load_env_creator
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


# Gymnasium's autoreset modes by the names vorlisk's classes take.
_MODES = {AutoresetMode.NEXT_STEP: "next_step", AutoresetMode.SAME_STEP: "same_step",
          AutoresetMode.DISABLED: "disabled"}


def _autoreset_mode(mode: Any) -> AutoresetMode:
    try:
        return AutoresetMode(mode)  # the enum itself, or its value ("NextStep")
    except ValueError:
        pass
    if isinstance(mode, str) and mode.upper() in AutoresetMode.__members__:
        return AutoresetMode[mode.upper()]
    raise ValueError(f"autoreset_mode must be one of {[m.name for m in AutoresetMode]}, "
                     f"got {mode!r}")


def _seed_value(seed: Any) -> int:
    if isinstance(seed, (bool, np.bool_)) or not isinstance(seed, (int, np.integer)):
        raise TypeError(f"seed must be an int, a list of ints or None, got {type(seed).__name__}")
    if not 0 <= int(seed) < _SEED_LIMIT:
        raise ValueError(f"seed must lie in [0, 2**64), got {seed}")
    return int(seed)


class VorliskVectorEnv(VectorEnv):
    """What every task's class shares; a subclass names its vorlisk class."""

    _env_class: Any = None
    metadata = {"autoreset_mode": AutoresetMode.NEXT_STEP, "render_modes": ["rgb_array"]}

    def __init__(self, num_envs: int, workers: Optional[int] = None, *,
                 max_episode_steps: Optional[int] = None,
                 autoreset_mode: Union[AutoresetMode, str] = AutoresetMode.NEXT_STEP,
                 render_mode: Optional[str] = None):
        env_id = self._env_class._gymnasium["id"]
        mode = _autoreset_mode(autoreset_mode)
        if render_mode not in (None, "rgb_array"):
            raise ValueError(f"render_mode must be None or 'rgb_array', got {render_mode!r}")
        registered = gymnasium.spec(env_id)
        if max_episode_steps is None:
            max_episode_steps = registered.max_episode_steps
        self._env = self._env_class(num_envs, workers, max_episode_steps=max_episode_steps,
                                    autoreset_mode=_MODES[mode])
        self.num_envs = num_envs
        self.render_mode = render_mode
        self.metadata = {**self.metadata, "autoreset_mode": mode,
                         "render_fps": _render_fps(registered)}
        self.spec = dataclasses.replace(registered, max_episode_steps=max_episode_steps)
        self.single_observation_space = _box(self._env.single_observation_space)
        action_space = self._env.single_action_space
        self._discrete = "n" in action_space
        if self._discrete:
            self.single_action_space = spaces.Discrete(action_space["n"])
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
        """Restarts every lane, or with `options={"reset_mask": mask}` the lanes the mask
        marks. Lane i of `seed` s starts like Gymnasium's sub-environment i of a vector
        environment reset with s (that is, from seed s + i); a list of seeds must
        therefore be consecutive. Without a seed the lanes continue from this object's
        random generator."""
        env = self._open()
        options = dict(options or {})
        mask = self._checked_mask(options.pop("reset_mask")) if "reset_mask" in options else None
        if options:
            raise ValueError(f"vorlisk's environments take no reset options but reset_mask, "
                             f"got {sorted(options)}")
        if seed is not None and not isinstance(seed, (int, np.integer)):
            seed = self._first_of_consecutive(seed)
        if seed is not None:
            lane_seed = _seed_value(seed)
            self._np_random, self._np_random_seed = seeding.np_random(lane_seed)
        else:
            lane_seed = int(self.np_random.integers(0, _SEED_LIMIT, dtype=np.uint64))
        return env.reset(lane_seed, mask=mask), {}

    def _checked_mask(self, mask: Any) -> np.ndarray:
        # Gymnasium's own checks and words.
        if not isinstance(mask, np.ndarray):
            raise TypeError(f"`options['reset_mask']` must be a numpy array, got {type(mask)}")
        if mask.shape != (self.num_envs,):
            raise ValueError(f"`options['reset_mask']` must have shape `({self.num_envs},)`, "
                             f"got {mask.shape}")
        if mask.dtype != np.bool_:
            raise TypeError(f"`options['reset_mask']` must have `dtype=np.bool_`, got {mask.dtype}")
        if not mask.any():
            raise ValueError("`options['reset_mask']` must contain a boolean array with at least "
                             f"one True value, got reset_mask={mask}")
        return np.ascontiguousarray(mask)

    def _first_of_consecutive(self, seeds: Sequence[Optional[int]]) -> Optional[int]:
        if isinstance(seeds, (str, bytes)) or not isinstance(seeds, (Sequence, np.ndarray)):
            raise TypeError(f"seed must be an int, a list of ints or None, "
                            f"got {type(seeds).__name__}")
        seeds = list(seeds)
        if len(seeds) != self.num_envs:
            raise ValueError(f"Expected {self.num_envs} seeds, got {len(seeds)}")
        if all(s is None for s in seeds):
            return None
        first = _seed_value(seeds[0]) if seeds[0] is not None else None
        if first is None or any(s is None or _seed_value(s) != first + i
                                for i, s in enumerate(seeds)):
            raise ValueError("vorlisk seeds lane i with seed + i: a list of seeds must be "
                             "consecutive integers (or all None)")
        return first

    def step(
        self, actions: Any
    ) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray, dict[str, Any]]:
        self._open()
        obs, rewards, terminals, truncations = self._step(self._checked_actions(actions))
        # Fresh 0/1 bytes from the step: viewing them as booleans copies nothing.
        terminated = terminals.view(np.bool_)
        truncated = truncations.view(np.bool_)
        info: dict[str, Any] = {}
        if self.metadata["autoreset_mode"] is AutoresetMode.SAME_STEP:
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
        values = a.reshape(n).astype(np.float32)
        if np.isnan(values).any():
            raise ValueError("actions must not be NaN")
        # Clipped to the action space, as Gymnasium's tasks clip them.
        space = self.single_action_space
        return np.clip(values, space.low[0], space.high[0], out=values)

    def render(self) -> Optional[tuple[np.ndarray, ...]]:
        """With render_mode "rgb_array", a frame of every lane, as Gymnasium's
        SyncVectorEnv gives them; the vorlisk class's `render(lanes)` draws chosen lanes."""
        if self.render_mode is None:
            gymnasium.logger.warn("render() was called without a render_mode: make_vec(..., "
                                  "render_mode=\"rgb_array\") draws frames")
            return None
        return tuple(self._open().render(np.arange(self.num_envs)))

    def _open(self) -> Any:
        if self._env is None:
            raise RuntimeError(f"{type(self).__name__} is closed")
        return self._env

    def close_extras(self, **kwargs: Any) -> None:
        self._env = None  # frees the lanes

    @property
    def vorlisk_env(self) -> Any:
        """The vorlisk object underneath, for `get_logs` and the like."""
        return self._env

    def __repr__(self) -> str:
        return f"{type(self).__name__}(num_envs={self.num_envs})"


def _render_fps(spec: Any) -> Any:
    """The frame rate Gymnasium's own environment of the id renders at."""
    return load_env_creator(spec.entry_point).metadata.get("render_fps")


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


def make_vec(env_id: Union[str, EnvSpec], num_envs: int = 1,
             vectorization_mode: Union[VectorizeMode, str, None] = None,
             vector_kwargs: Optional[dict[str, Any]] = None,
             wrappers: Optional[Sequence[Any]] = None, *, workers: Optional[int] = None,
             max_episode_steps: Optional[int] = None, render_mode: Optional[str] = None,
             **kwargs: Any) -> VorliskVectorEnv:
    """The vorlisk counterpart of `gymnasium.make_vec` for the Gymnasium id of any of
    vorlisk's tasks, such as "CartPole-v1" (any version suffix). Takes Gymnasium's
    arguments: `vector_kwargs` may set "autoreset_mode" (NEXT_STEP by default, as in
    Gymnasium; SAME_STEP or DISABLED) and "copy" (the results are always fresh arrays);
    `vectorization_mode` may be any of Gymnasium's (vorlisk steps its lanes natively
    whichever is named); `max_episode_steps` replaces the limit Gymnasium registers for
    the id; `render_mode` may be "rgb_array". `workers` >= 2 steps the lanes in that many
    chunks on vorlisk's worker pool. Anything else raises: the tasks take no parameters
    here, and per-environment `wrappers` do not apply to lanes."""
    if isinstance(env_id, EnvSpec):
        env_id = env_id.id
    name = env_id.split("/")[-1].split("-v")[0]
    if name not in _IDS:
        raise ValueError(f"vorlisk has no environment {env_id!r}; it has {sorted(_IDS)}")
    if kwargs:
        raise TypeError(f"make_vec got arguments vorlisk does not take: {sorted(kwargs)}")
    if wrappers:
        raise TypeError("make_vec's per-environment wrappers do not apply to vorlisk's lanes; "
                        "wrap the vector environment with gymnasium.wrappers.vector instead")
    if vectorization_mode is not None:
        VectorizeMode(vectorization_mode)  # raises for a mode Gymnasium does not have
    vector_kwargs = dict(vector_kwargs or {})
    mode = vector_kwargs.pop("autoreset_mode", AutoresetMode.NEXT_STEP)
    vector_kwargs.pop("copy", None)
    if vector_kwargs:
        raise TypeError(f"vector_kwargs vorlisk does not take: {sorted(vector_kwargs)}")
    return _IDS[name](num_envs, workers, max_episode_steps=max_episode_steps,
                      autoreset_mode=mode, render_mode=render_mode)
