"""Vorlisk Python module."""

import os
from collections.abc import Iterable, Sequence
from types import TracebackType
from typing import Any, Literal, Optional, SupportsIndex, Union, final

import numpy as np
import numpy.typing as npt

from . import envs as envs

__version__: str

class InternalError(BaseException):
    """Raised when an internal invariant of vorlisk is broken; the object stays usable."""

class _VecEnv:
    """Steps of 2048 lanes or more run without the GIL, so other Python threads run
    meanwhile. One object serves one call at a time: a call made while the object is
    stepping in another thread raises RuntimeError("step() is already running on this
    environment in another thread")."""

    def __new__(
        cls,
        num_envs: int,
        workers: Optional[int] = None,
        *,
        max_episode_steps: Optional[int] = ...,
        autoreset_mode: Literal["same_step", "next_step", "disabled"] = ...,
    ) -> "_VecEnv": ...
    def reset(
        self, seed: Optional[int], *, mask: Optional[npt.NDArray[Union[np.bool_, np.uint8]]] = None
    ) -> npt.NDArray[np.float32]: ...
    def final_observations(self) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.float32]]: ...
    def get_logs(self) -> dict[str, float]: ...
    def clear_logs(self) -> None: ...
    def render(
        self, lanes: Union[SupportsIndex, Sequence[SupportsIndex], npt.NDArray[np.integer[Any]]]
    ) -> npt.NDArray[np.uint8]: ...
    @property
    def num_envs(self) -> int: ...
    @property
    def max_episode_steps(self) -> int: ...
    @property
    def autoreset_mode(self) -> Literal["same_step", "next_step", "disabled"]: ...
    @property
    def observation_size(self) -> int: ...
    @property
    def observation_space(self) -> dict[str, Any]: ...
    @property
    def single_observation_space(self) -> dict[str, Any]: ...
    @property
    def action_space(self) -> dict[str, Any]: ...
    @property
    def single_action_space(self) -> dict[str, Any]: ...

_StepResult = tuple[
    npt.NDArray[np.float32],
    npt.NDArray[np.float32],
    npt.NDArray[np.uint8],
    npt.NDArray[np.uint8],
]

# @ENV_CLASSES@: each task's class, written in by the build

@final
class TUILogger:
    """High-performance TUI logger with ratatui."""
    def __new__(
        cls,
        mode: str = "minimal",
        render_interval_ms: int = 100,
        history_len: int = 100,
        csv_path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]", None] = None,
        monitor_interval_ms: Optional[int] = None,
        update_interval_steps: Optional[int] = None,
        *,
        total_steps: Optional[int] = None,
        metrics: Iterable[str] = (),
        display: bool = True,
    ) -> "TUILogger": ...
    def update(
        self,
        steps: int,
        episodes: int,
        mean_reward: float,
        sps: float,
        policy_loss: Optional[float] = None,
        value_loss: Optional[float] = None,
        entropy: Optional[float] = None,
        gpu_usage: Optional[float] = None,
        gpu_memory: Optional[float] = None,
        total_gpu_memory: Optional[float] = None,
        # The metrics named at construction; one not given keeps its last value.
        **metrics: Optional[float],
    ) -> None: ...
    def should_quit(self) -> bool: ...
    def should_save(self) -> bool: ...
    def close(self) -> None: ...
    def __enter__(self) -> "TUILogger": ...
    def __exit__(
        self,
        exc_type: Optional[type[BaseException]],
        exc_value: Optional[BaseException],
        traceback: Optional[TracebackType],
        /,
    ) -> None: ...

Logger = TUILogger
