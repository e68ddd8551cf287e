"""The environment classes, also reachable as vorlisk.envs."""

# @ENV_IMPORTS@: each task's class and __all__, written in by the build
