import importlib
import importlib.metadata
import subprocess
import sys

import vorlisk


def test_module_doc_names_and_submodule():
    assert vorlisk.__doc__ == "Vorlisk Python module."
    assert vorlisk.__version__ == importlib.metadata.version("vorlisk")
    assert vorlisk.Logger is vorlisk.TUILogger
    # Internal failures are not ordinary exceptions, which callers might catch.
    assert issubclass(vorlisk.InternalError, BaseException)
    assert not issubclass(vorlisk.InternalError, Exception)
    assert importlib.import_module("vorlisk.envs") is vorlisk.envs
    namespace = {}
    exec("from vorlisk.envs import *", namespace)
    names = vorlisk.envs.__all__
    assert [namespace[name] for name in names] == [getattr(vorlisk, name) for name in names]


def test_each_module_object_owns_its_classes():
    # A second module object made from the same extension has classes and an
    # exception class of its own, held in its state; both work side by side.
    code = """
import importlib.util, sys, numpy as np, vorlisk
spec = importlib.util.find_spec("vorlisk")
second = importlib.util.module_from_spec(spec)
spec.loader.exec_module(second)
assert second is not vorlisk
assert second.InternalError is not vorlisk.InternalError
for name in vorlisk.envs.__all__:
    assert getattr(second, name) is not getattr(vorlisk, name)
    for m in (vorlisk, second):
        env = getattr(m, name)(4)
        env.reset(1)
        env.step(np.zeros(4, np.int32 if "n" in env.action_space else np.float32))
for m in (vorlisk, second):
    m.TUILogger().close()
print("ok")
"""

    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.stdout == "ok\n", out.stderr
