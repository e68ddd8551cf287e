"""The texts and spaces the environment classes are known by, against one table."""

import pytest

import vorlisk

INF = float("inf")
SHARED = {
    "get_logs": ("($self)", "Get episode statistics since last clear.\n\nReturns dict with:\n"
                 "- episode_count: number of completed episodes\n"
                 "- total_reward: sum of rewards across all completed episodes\n"
                 "- total_steps: sum of steps across all completed episodes\n"
                 "- mean_reward: average episode reward (or 0 if no episodes)\n"
                 "- mean_length: average episode length (or 0 if no episodes)"),
    "clear_logs": ("($self)", "Clear episode statistics."),
    "num_envs": (None, "Get the number of environments."),
    "observation_size": (None, "Get the observation shape per environment."),
    "single_observation_space": (None, "Gymnasium-compatible observation space for a single environment."),
    "single_action_space": (None, "Gymnasium-compatible action space for a single environment."),
}
# Per class: observation size, the step's action line and notes, the observation space
# line, the action space's doc, and both spaces.
TABLE = {
    "CartPole": (4, "int32, values 0 or 1", "", "",
                 "[cart_pos, cart_vel, pole_angle, pole_vel]\n- low: lower bounds (unbounded for "
                 "velocities)\n- high: upper bounds (unbounded for velocities)",
                 'Discrete format:\n- n: 2 (push left or push right)\n- dtype: "int32"',
                 {"shape": (4,), "dtype": "float32",
                  "low": [-4.800000190734863, -INF, -0.4180000126361847, -INF],
                  "high": [4.800000190734863, INF, 0.4180000126361847, INF]},
                 {"n": 2, "dtype": "int32"}),
    "MountainCar": (2, "int32, values 0, 1, or 2", "", "",
                    "[position, velocity]\n- low: lower bounds\n- high: upper bounds",
                    'Discrete format:\n- n: 3 (push left, no push, push right)\n- dtype: "int32"',
                    {"shape": (2,), "dtype": "float32",
                     "low": [-1.2000000476837158, -0.07000000029802322],
                     "high": [0.6000000238418579, 0.07000000029802322]},
                    {"n": 3, "dtype": "int32"}),
    "Pendulum": (3, "float32, continuous torque values [-2.0, 2.0]",
                 " (cos(theta), sin(theta), theta_dot)", " (always 0, Pendulum has no terminal state)",
                 "[cos(theta), sin(theta), theta_dot]\n- low: lower bounds\n- high: upper bounds",
                 'Box format:\n- shape: (1,) for torque\n- low: -2.0\n- high: 2.0\n- dtype: "float32"',
                 {"shape": (3,), "dtype": "float32", "low": [-1.0, -1.0, -8.0], "high": [1.0, 1.0, 8.0]},
                 {"shape": (1,), "dtype": "float32", "low": [-2.0], "high": [2.0]}),
    "Acrobot": (6, "int32, values 0, 1, or 2",
                " (cos(theta1), sin(theta1), cos(theta2), sin(theta2), theta1_dot, theta2_dot; "
                "theta2 relative to the first link)",
                " (1 when the free end has risen above the target height)",
                "[cos(theta1), sin(theta1), cos(theta2), sin(theta2), theta1_dot, theta2_dot]\n"
                "- low: lower bounds\n- high: upper bounds",
                'Discrete format:\n- n: 3 (torque -1, 0 or +1 at the joint between the links)\n'
                '- dtype: "int32"',
                {"shape": (6,), "dtype": "float32",
                 "low": [-1.0, -1.0, -1.0, -1.0, -12.566370964050293, -28.274333953857422],
                 "high": [1.0, 1.0, 1.0, 1.0, 12.566370964050293, 28.274333953857422]},
                {"n": 3, "dtype": "int32"}),
    "MountainCarContinuous": (
        2, "float32, continuous force values [-1.0, 1.0]", "", "",
        "[position, velocity]\n- low: lower bounds\n- high: upper bounds",
        'Box format:\n- shape: (1,) for force\n- low: -1.0\n- high: 1.0\n- dtype: "float32"',
        {"shape": (2,), "dtype": "float32", "low": [-1.2000000476837158, -0.07000000029802322],
         "high": [0.6000000238418579, 0.07000000029802322]},
        {"shape": (1,), "dtype": "float32", "low": [-1.0], "high": [1.0]}),
}


@pytest.mark.parametrize("name", TABLE)
def test_class_texts_and_spaces(name):
    k, actions, obs_note, term_note, obs_space, act_space, obs_dict, act_dict = TABLE[name]
    cls = getattr(vorlisk, f"Py{name}VecEnv")
    limit = {"Acrobot": 500, "MountainCarContinuous": 999}.get(name, 200)
    assert cls.__text_signature__ == (
        f"(num_envs, workers=None, *, max_episode_steps={limit}, autoreset_mode='same_step')")
    first, second = cls.__doc__.split("\n\n")
    assert first == f"High-performance vectorized {name} environment."
    assert "SIMD" in second and "NumPy" in second
    assert cls.reset.__text_signature__ == "($self, seed, *, mask=None)"
    assert cls.reset.__doc__ == (
        f"Reset all environments.\n\nReturns observations as a numpy array of shape (num_envs, {k})."
        "\n\n# Errors\n\nReturns `ValueError` if observation array reshape fails.")
    assert cls.step.__text_signature__ == "($self, actions)"
    assert cls.step.__doc__ == (
        "Step all environments with the given actions.\n\n# Arguments\n\n"
        f"* `actions` - numpy array of shape (num_envs,) with dtype {actions}\n\n"
        "# Returns\n\nTuple of (observations, rewards, terminals, truncations) where:\n"
        f"- observations: shape (num_envs, {k}), dtype float32{obs_note}\n"
        "- rewards: shape (num_envs,), dtype float32\n"
        f"- terminals: shape (num_envs,), dtype uint8{term_note}\n"
        "- truncations: shape (num_envs,), dtype uint8\n\n"
        "# Errors\n\nReturns `ValueError` if actions array is not contiguous or has wrong size.")
    assert cls.observation_space.__doc__ == (
        "Gymnasium-compatible observation space specification.\n\nReturns a dict matching "
        f'gymnasium.spaces.Box format:\n- shape: ({k},) for {obs_space}\n- dtype: "float32"')
    assert cls.action_space.__doc__ == (
        "Gymnasium-compatible action space specification.\n\nReturns a dict matching "
        f"gymnasium.spaces.{act_space}")
    env = cls(2)
    assert list(env.observation_space.items()) == list(obs_dict.items())
    assert list(env.action_space.items()) == list(act_dict.items())
    # Each read gives a fresh dict, which the single-lane spaces equal.
    env.observation_space["low"][0] = 123.0
    assert env.single_observation_space == env.observation_space == obs_dict
    assert env.single_action_space == env.action_space and env.num_envs == 2
    for member, (signature, doc) in SHARED.items():
        attribute = getattr(cls, member)
        assert attribute.__doc__ == doc
        assert getattr(attribute, "__text_signature__", None) == signature
