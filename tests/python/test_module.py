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


def test_each_module_object_owns_its_classes():
    # A second module object made from the same extension has classes and an
    # exception class of its own, held in its state; both work side by side.
    code = """
import importlib.util, sys, numpy as np, vorlisk
spec = importlib.util.find_spec("vorlisk")
second = importlib.util.module_from_spec(spec)
spec.loader.exec_module(second)
assert second is not vorlisk
assert second.PyCartPoleVecEnv is not vorlisk.PyCartPoleVecEnv
assert second.InternalError is not vorlisk.InternalError
for m in (vorlisk, second):
    env = m.PyCartPoleVecEnv(4)
    env.reset(1)
    env.step(np.zeros(4, np.int32))
    m.TUILogger().close()
print("ok")
"""
    import subprocess

    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.stdout == "ok\n", out.stderr
