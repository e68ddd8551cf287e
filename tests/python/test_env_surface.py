"""The surface the three environment classes share: texts, spaces, argument checks,
result arrays and reproducibility, each case run against every class."""

import numpy as np
import pytest

import vorlisk
from vorlisk import PyCartPoleVecEnv, PyMountainCarVecEnv, PyPendulumVecEnv

INF = float("inf")
STEP_RETURNS = (
    "# Returns\n\nTuple of (observations, rewards, terminals, truncations) where:\n"
    "- observations: shape (num_envs, {k}), dtype float32{obs_note}\n"
    "- rewards: shape (num_envs,), dtype float32\n"
    "- terminals: shape (num_envs,), dtype uint8{term_note}\n"
    "- truncations: shape (num_envs,), dtype uint8\n\n"
    "# Errors\n\nReturns `ValueError` if actions array is not contiguous or has wrong size."
)


class Case:
    def __init__(self, cls, name, k, dtype, actions_doc, obs_doc, act_doc, obs_space, act_space,
                 bad_dtypes, obs_note="", term_note=""):
        self.cls, self.name, self.k, self.dtype = cls, name, k, dtype
        self.step_doc = (
            "Step all environments with the given actions.\n\n# Arguments\n\n"
            f"* `actions` - numpy array of shape (num_envs,) with dtype {actions_doc}\n\n"
            + STEP_RETURNS.format(k=k, obs_note=obs_note, term_note=term_note)
        )
        self.obs_doc = (
            "Gymnasium-compatible observation space specification.\n\n"
            "Returns a dict matching gymnasium.spaces.Box format:\n" + obs_doc + '- dtype: "float32"'
        )
        self.act_doc = act_doc
        self.obs_space, self.act_space, self.bad_dtypes = obs_space, act_space, bad_dtypes

    def actions(self, n, seed=0):
        rng = np.random.default_rng(seed)
        if self.dtype == np.float32:
            return rng.uniform(-2.5, 2.5, n).astype(np.float32)
        return rng.integers(0, 3, n).astype(np.int32)

    def __repr__(self):
        return self.name


CASES = [
    Case(PyCartPoleVecEnv, "CartPole", 4, np.int32, "int32, values 0 or 1",
         "- shape: (4,) for [cart_pos, cart_vel, pole_angle, pole_vel]\n"
         "- low: lower bounds (unbounded for velocities)\n"
         "- high: upper bounds (unbounded for velocities)\n",
         "Gymnasium-compatible action space specification.\n\n"
         "Returns a dict matching gymnasium.spaces.Discrete format:\n"
         '- n: 2 (push left or push right)\n- dtype: "int32"',
         {"shape": (4,), "dtype": "float32",
          "low": [-4.800000190734863, -INF, -0.4180000126361847, -INF],
          "high": [4.800000190734863, INF, 0.4180000126361847, INF]},
         {"n": 2, "dtype": "int32"}, [np.int64, np.float32, ">i4"]),
    Case(PyMountainCarVecEnv, "MountainCar", 2, np.int32, "int32, values 0, 1, or 2",
         "- shape: (2,) for [position, velocity]\n- low: lower bounds\n- high: upper bounds\n",
         "Gymnasium-compatible action space specification.\n\n"
         "Returns a dict matching gymnasium.spaces.Discrete format:\n"
         '- n: 3 (push left, no push, push right)\n- dtype: "int32"',
         {"shape": (2,), "dtype": "float32",
          "low": [-1.2000000476837158, -0.07000000029802322],
          "high": [0.6000000238418579, 0.07000000029802322]},
         {"n": 3, "dtype": "int32"}, [np.int64, np.float32]),
    Case(PyPendulumVecEnv, "Pendulum", 3, np.float32,
         "float32, continuous torque values [-2.0, 2.0]",
         "- shape: (3,) for [cos(theta), sin(theta), theta_dot]\n- low: lower bounds\n"
         "- high: upper bounds\n",
         "Gymnasium-compatible action space specification.\n\n"
         "Returns a dict matching gymnasium.spaces.Box format:\n"
         '- shape: (1,) for torque\n- low: -2.0\n- high: 2.0\n- dtype: "float32"',
         {"shape": (3,), "dtype": "float32", "low": [-1.0, -1.0, -8.0], "high": [1.0, 1.0, 8.0]},
         {"shape": (1,), "dtype": "float32", "low": [-2.0], "high": [2.0]},
         [np.int32, np.float64, ">f4"],
         obs_note=" (cos(theta), sin(theta), theta_dot)",
         term_note=" (always 0, Pendulum has no terminal state)"),
]
each = pytest.mark.parametrize("case", CASES, ids=repr)


@each
def test_texts(case):
    cls = case.cls
    assert cls.__text_signature__ == "(num_envs, workers=None)"
    first, second = cls.__doc__.split("\n\n")
    assert first == f"High-performance vectorized {case.name} environment."
    assert "SIMD" in second and "NumPy" in second
    assert cls.reset.__text_signature__ == "($self, seed)"
    assert cls.reset.__doc__ == (
        "Reset all environments.\n\nReturns observations as a numpy array of shape "
        f"(num_envs, {case.k}).\n\n# Errors\n\nReturns `ValueError` if observation array "
        "reshape fails."
    )
    assert cls.step.__text_signature__ == "($self, actions)"
    assert cls.step.__doc__ == case.step_doc
    assert cls.observation_space.__doc__ == case.obs_doc
    assert cls.action_space.__doc__ == case.act_doc
    assert cls.get_logs.__text_signature__ == "($self)"
    assert cls.get_logs.__doc__.startswith("Get episode statistics since last clear.\n\nReturns")
    assert cls.clear_logs.__doc__ == "Clear episode statistics."
    assert cls.num_envs.__doc__ == "Get the number of environments."
    assert cls.observation_size.__doc__ == "Get the observation shape per environment."
    assert cls.single_observation_space.__doc__ == (
        "Gymnasium-compatible observation space for a single environment.")
    assert cls.single_action_space.__doc__ == (
        "Gymnasium-compatible action space for a single environment.")


@each
def test_registered_on_the_module_and_in_envs(case):
    assert getattr(vorlisk, case.cls.__name__) is case.cls
    assert getattr(vorlisk.envs, case.cls.__name__) is case.cls


@each
def test_spaces_are_exact_ordered_and_fresh(case):
    env = case.cls(3)
    space = env.observation_space
    assert list(space.items()) == list(case.obs_space.items())
    assert list(env.action_space.items()) == list(case.act_space.items())
    assert env.single_observation_space == space and env.single_action_space == env.action_space
    space["low"][0] = 123.0
    space["shape"] = None
    assert env.observation_space == case.obs_space
    assert (env.num_envs, env.observation_size) == (3, case.k)


@each
@pytest.mark.parametrize(
    "args, kwargs, error, text",
    [
        ((0,), {}, ValueError, "^num_envs must be greater than 0$"),
        ((-1,), {}, OverflowError, "num_envs"),
        ((2**64,), {}, OverflowError, "num_envs"),
        ((1.5,), {}, TypeError, "num_envs"),
        (("4",), {}, TypeError, "num_envs"),
        ((4, -2), {}, OverflowError, "workers"),
        ((4, 2.0), {}, TypeError, "workers"),
        ((), {}, TypeError, "num_envs"),
        ((), {"num_envs": 2, "seed": 1}, TypeError, "seed"),
    ],
)
def test_constructor_rejects_bad_arguments(case, args, kwargs, error, text):
    with pytest.raises(error, match=text):
        case.cls(*args, **kwargs)


@each
@pytest.mark.parametrize("num_envs", [2**40, 2**62])
def test_lanes_that_cannot_be_allocated_raise_memory_error(case, num_envs):
    with pytest.raises(MemoryError):
        case.cls(num_envs)


@each
def test_reset_seed_rules(case):
    env = case.cls(5, workers=0)
    assert np.array_equal(env.reset(None), env.reset(0))
    assert np.array_equal(env.reset(seed=7), env.reset(7))
    with pytest.raises(TypeError):
        env.reset()
    with pytest.raises(OverflowError, match="seed"):
        env.reset(-1)
    with pytest.raises(TypeError, match="seed"):
        env.reset(1.0)
    obs = env.reset(2**64 - 1)
    assert obs.dtype == np.float32 and obs.shape == (5, case.k)


def rejected_actions(case):
    yield from (np.zeros(4, d) for d in case.bad_dtypes)
    yield np.zeros((2, 2), case.dtype)
    yield list(range(4))
    yield np.zeros(8, case.dtype)[::2], ValueError, "^Actions must be a contiguous C-order array$"
    yield np.zeros(3, case.dtype), ValueError, "^Expected 4 actions, got 3$"
    yield np.zeros(5, case.dtype), ValueError, "^Expected 4 actions, got 5$"


@each
def test_a_rejected_step_changes_nothing(case):
    env, reference = case.cls(4), case.cls(4)
    reference.reset(3)
    env.reset(3)
    for rejected in rejected_actions(case):
        actions, error, text = rejected if isinstance(rejected, tuple) else (rejected, TypeError, "actions")
        with pytest.raises(error, match=text):
            env.step(actions)
    good = case.actions(4)
    for a, b in zip(env.step(good), reference.step(good)):
        assert a.tobytes() == b.tobytes()


@each
@pytest.mark.parametrize("workers", [1, 3])
def test_results_are_fresh_arrays_of_the_documented_types(case, workers):
    env = case.cls(13, workers)
    env.reset(0)
    first = env.step(case.actions(13))
    second = env.step(case.actions(13, seed=1))
    obs, rewards, terminals, truncations = first
    assert obs.shape == (13, case.k) and obs.dtype == np.float32
    assert rewards.shape == (13,) and rewards.dtype == np.float32
    assert terminals.dtype == np.uint8 and truncations.dtype == np.uint8
    assert set(np.unique(terminals)) <= {0, 1} and set(np.unique(truncations)) <= {0, 1}
    for a, b in zip(first, second):
        assert a.flags.owndata and a.flags.c_contiguous and a.flags.writeable
        assert not np.shares_memory(a, b)
    obs[:] = 123.0
    assert not np.any(env.step(case.actions(13))[0] == 123.0)


@each
def test_keyword_and_unaligned_actions_step_like_aligned_ones(case):
    actions = case.actions(13)
    raw = np.zeros(actions.nbytes + 1, np.uint8)
    unaligned = np.frombuffer(raw.data, actions.dtype, 13, offset=1)
    unaligned[:] = actions
    a, b = case.cls(13), case.cls(13)
    a.reset(2)
    b.reset(2)
    for _ in range(5):
        for x, y in zip(a.step(actions), b.step(actions=unaligned)):
            assert x.tobytes() == y.tobytes()


@each
def test_logs_start_at_zero(case):
    env = case.cls(2)
    keys = ["episode_count", "total_reward", "total_steps", "mean_reward", "mean_length"]
    assert env.get_logs() == dict.fromkeys(keys, 0.0)


@each
@pytest.mark.parametrize("workers", [1, 2, 5])
def test_same_seed_and_actions_give_the_same_bits(case, workers):
    a, b = case.cls(37, workers), case.cls(37, workers)
    a.reset(11)
    b.reset(11)
    for t in range(250):
        actions = case.actions(37, seed=t)
        for x, y in zip(a.step(actions), b.step(actions)):
            assert x.tobytes() == y.tobytes()
    assert a.get_logs() == b.get_logs()
    assert a.get_logs()["episode_count"] > 0
