import importlib
import sys

import vorlisk


def test_module_doc_and_submodule():
    assert vorlisk.__doc__ == "Vorlisk Python module."
    assert sys.modules["vorlisk.envs"] is vorlisk.envs
    envs = importlib.import_module("vorlisk.envs")
    assert envs is vorlisk.envs
    from vorlisk.envs import PyCartPoleVecEnv, PyMountainCarVecEnv, PyPendulumVecEnv

    assert PyCartPoleVecEnv is vorlisk.PyCartPoleVecEnv
    assert PyMountainCarVecEnv is vorlisk.PyMountainCarVecEnv
    assert PyPendulumVecEnv is vorlisk.PyPendulumVecEnv


def test_logger_has_two_names():
    assert vorlisk.Logger is vorlisk.TUILogger


def test_internal_error_is_not_an_ordinary_exception():
    assert issubclass(vorlisk.InternalError, BaseException)
    assert not issubclass(vorlisk.InternalError, Exception)
