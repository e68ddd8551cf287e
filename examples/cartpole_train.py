"""Steps 4096 CartPole lanes under a hand-written balancing policy and reports the
episode statistics and the stepping speed."""

import argparse
import time

import numpy as np

import vorlisk


def policy(obs: np.ndarray) -> np.ndarray:
    # Push towards the side the pole is falling to, looking a little ahead.
    return (obs[:, 2] + 0.5 * obs[:, 3] > 0).astype(np.int32)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--num-envs", type=int, default=4096)
    parser.add_argument("--workers", type=int, default=1)
    parser.add_argument("--steps", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args()

    env = vorlisk.PyCartPoleVecEnv(args.num_envs, args.workers)
    obs = env.reset(args.seed)
    start = time.perf_counter()
    for step in range(1, args.steps + 1):
        obs, rewards, terminals, truncations = env.step(policy(obs))
        if step % 500 == 0:
            logs = env.get_logs()
            env.clear_logs()
            print(
                f"step {step:6d}  episodes {logs['episode_count']:8.0f}  "
                f"mean reward {logs['mean_reward']:7.2f}  mean length {logs['mean_length']:7.2f}"
            )
    elapsed = time.perf_counter() - start
    print(f"{args.num_envs * args.steps / elapsed:,.0f} lane-steps per second "
          f"({args.num_envs} lanes, workers {args.workers})")


if __name__ == "__main__":
    main()
