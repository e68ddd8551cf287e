"""The environment classes, also reachable as vorlisk.envs."""

from vorlisk import PyCartPoleVecEnv as PyCartPoleVecEnv
from vorlisk import PyMountainCarVecEnv as PyMountainCarVecEnv
from vorlisk import PyPendulumVecEnv as PyPendulumVecEnv
