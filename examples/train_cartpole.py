"""Trains an actor-critic agent (PPO) on vorlisk's vectorised CartPole with NumPy alone,
and shows its progress in vorlisk's TUILogger.

    python3 examples/train_cartpole.py [--lanes 4096] [--workers 1] [--seed 0]
        [--time-budget 120] [--steps N] [--target 195] [--mode dashboard] [--csv PATH]
        [--save PATH]

Training stops when the mean return over the episodes that ended during one update
reaches --target (CartPole's episodes last at most 200 steps), when a budget runs out, or
when q is pressed in the monitor. Without a terminal the monitor says so once on
standard error and the script prints one progress line per update instead; so it does
with --mode none, which draws nothing and still writes the CSV file. Pressing s
in the monitor saves the networks' parameters to --save (an .npz file); the summary
printed at the end says where. Beside the losses, the monitor and the CSV file show each
update's KL divergence, clip fraction and mean episode length, declared to the logger as
metrics of the script's own.

The agent is two small multilayer perceptrons (4-32-32-2 for the policy, 4-32-32-1 for
the value) with hand-written gradients and Adam. Each update collects --horizon steps
on every lane (65,536 transitions with the defaults), estimates advantages with GAE,
and takes one pass of clipped policy-gradient steps over 32 minibatches of them: with
this many lanes, fresh data is cheap and more passes over old data buy little.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from dataclasses import dataclass

# The matrices are small (32 columns): a second BLAS thread mostly spins beside the
# elementwise work, and on a busy two-core machine it made training 6 to 13 times slower.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_NUM_THREADS", "1")
os.environ.setdefault("MKL_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import vorlisk  # noqa: E402

F32 = np.float32


# ---------------------------------------------------------------------------------------
# Network and optimiser


def orthogonal(rng: np.random.Generator, rows: int, cols: int, gain: float) -> np.ndarray:
    a = rng.standard_normal((max(rows, cols), min(rows, cols)))
    q, r = np.linalg.qr(a)
    q *= np.sign(np.diag(r))
    if rows < cols:
        q = q.T
    return (gain * q[:rows, :cols]).astype(F32)


class MLP:
    """Two tanh hidden layers and a linear output; forward keeps what backward needs."""

    def __init__(self, rng: np.random.Generator, sizes: tuple[int, ...], out_gain: float):
        self.params: list[np.ndarray] = []
        for i, (n_in, n_out) in enumerate(zip(sizes[:-1], sizes[1:])):
            gain = out_gain if i == len(sizes) - 2 else np.sqrt(2.0)
            self.params += [orthogonal(rng, n_in, n_out, gain), np.zeros(n_out, F32)]

    def forward(self, x: np.ndarray) -> tuple[np.ndarray, tuple[np.ndarray, ...]]:
        w1, b1, w2, b2, w3, b3 = self.params
        h1 = np.tanh(x @ w1 + b1)
        h2 = np.tanh(h1 @ w2 + b2)
        return h2 @ w3 + b3, (x, h1, h2)

    def backward(self, cache: tuple[np.ndarray, ...], d_out: np.ndarray) -> list[np.ndarray]:
        x, h1, h2 = cache
        _, _, w2, _, w3, _ = self.params
        d_h2 = d_out @ w3.T
        d_h2 *= 1.0 - h2 * h2
        d_h1 = d_h2 @ w2.T
        d_h1 *= 1.0 - h1 * h1
        return [x.T @ d_h1, d_h1.sum(0), h1.T @ d_h2, d_h2.sum(0), h2.T @ d_out, d_out.sum(0)]


class Adam:
    def __init__(self, params: list[np.ndarray], lr: float, max_grad_norm: float = 0.5):
        self.params, self.lr, self.max_grad_norm = params, lr, max_grad_norm
        self.m = [np.zeros_like(p) for p in params]
        self.v = [np.zeros_like(p) for p in params]
        self.t = 0

    def step(self, grads: list[np.ndarray], lr: float) -> None:
        norm = np.sqrt(sum(float(np.vdot(g, g)) for g in grads))
        scale = min(1.0, self.max_grad_norm / (norm + 1e-6))
        self.t += 1
        c1 = 1.0 - 0.9**self.t
        c2 = 1.0 - 0.999**self.t
        for p, g, m, v in zip(self.params, grads, self.m, self.v):
            g = g * F32(scale)
            m *= 0.9
            m += 0.1 * g
            v *= 0.999
            v += 0.001 * (g * g)
            p -= (lr / c1) * m / (np.sqrt(v / c2) + 1e-5)


# ---------------------------------------------------------------------------------------
# PPO


@dataclass
class Config:
    lanes: int = 4096
    workers: int = 1
    seed: int = 0
    horizon: int = 16          # steps per lane per update
    epochs: int = 1
    minibatches: int = 32
    lr: float = 4e-3
    gamma: float = 0.99
    gae_lambda: float = 0.95
    clip: float = 0.2
    entropy_coef: float = 0.0
    time_budget: float = 120.0
    steps_budget: int | None = None
    target: float = 195.0
    hidden: int = 32


@dataclass
class UpdateStats:
    policy_loss: float
    value_loss: float
    entropy: float
    kl: float         # approximate KL divergence of the new policy from the one that acted
    clip_frac: float  # share of samples whose probability ratio the clip cut off


class Agent:
    def __init__(self, cfg: Config, obs_size: int, actions: int):
        rng = np.random.default_rng(cfg.seed)
        self.cfg = cfg
        h = cfg.hidden
        self.actor = MLP(rng, (obs_size, h, h, actions), out_gain=0.01)
        self.critic = MLP(rng, (obs_size, h, h, 1), out_gain=1.0)
        self.actor_opt = Adam(self.actor.params, cfg.lr)
        self.critic_opt = Adam(self.critic.params, cfg.lr)
        self.rng = np.random.default_rng(cfg.seed + 1)

    def value(self, obs: np.ndarray) -> np.ndarray:
        return self.critic.forward(obs)[0][:, 0]

    def act(self, obs: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
        """Samples actions; returns them with their log-probabilities."""
        logits = self.actor.forward(obs)[0]
        logp_all = log_softmax(logits)
        # Inverse-CDF sampling over the (few) actions.
        cdf = np.cumsum(np.exp(logp_all), axis=1)
        u = self.rng.random((obs.shape[0], 1), dtype=F32)
        actions = np.minimum((u > cdf).sum(1), logits.shape[1] - 1).astype(np.int32)
        return actions, np.take_along_axis(logp_all, actions[:, None], 1)[:, 0]

    def update(self, obs, actions, logp_old, advantages, returns, lr) -> UpdateStats:
        cfg = self.cfg
        n = obs.shape[0]
        size = n // cfg.minibatches
        stats = np.zeros(5)
        for _ in range(cfg.epochs):
            order = self.rng.permutation(n)
            for k in range(cfg.minibatches):
                idx = order[k * size:(k + 1) * size]
                stats += self.minibatch(obs[idx], actions[idx], logp_old[idx], advantages[idx],
                                        returns[idx], lr)
        stats /= cfg.epochs * cfg.minibatches
        return UpdateStats(*stats)

    def minibatch(self, obs, actions, logp_old, adv, returns, lr) -> np.ndarray:
        cfg = self.cfg
        b = F32(obs.shape[0])
        adv = (adv - adv.mean()) / (adv.std() + 1e-8)

        # Policy: clipped surrogate, minus an entropy bonus.
        logits, cache = self.actor.forward(obs)
        logp_all = log_softmax(logits)
        probs = np.exp(logp_all)
        rows = np.arange(obs.shape[0])
        ratio = np.exp(logp_all[rows, actions] - logp_old)
        surr1 = ratio * adv
        surr2 = np.clip(ratio, 1.0 - cfg.clip, 1.0 + cfg.clip) * adv
        policy_loss = -np.minimum(surr1, surr2).mean()
        # The estimator (r - 1) - log r: never negative, and low-variance.
        kl = float(np.mean((ratio - 1.0) - np.log(ratio)))
        clip_frac = float(np.mean(np.abs(ratio - 1.0) > cfg.clip))
        entropy = -(probs * logp_all).sum(1)
        # d(loss)/d(log p of the taken action): the unclipped side carries the gradient.
        d_logp = np.where(surr1 <= surr2, -adv * ratio, 0.0).astype(F32) / b
        d_logits = -probs * d_logp[:, None]
        d_logits[rows, actions] += d_logp
        if cfg.entropy_coef:
            d_logits += (cfg.entropy_coef / b) * probs * (logp_all + entropy[:, None])
        self.actor_opt.step(self.actor.backward(cache, d_logits), lr)

        # Value: squared error against the GAE returns.
        values, cache = self.critic.forward(obs)
        error = values[:, 0] - returns
        value_loss = 0.5 * float(np.mean(error * error))
        self.critic_opt.step(self.critic.backward(cache, (error / b)[:, None]), lr)
        return np.array([policy_loss, value_loss, entropy.mean(), kl, clip_frac])


def log_softmax(logits: np.ndarray) -> np.ndarray:
    shifted = logits - logits.max(1, keepdims=True)
    return shifted - np.log(np.exp(shifted).sum(1, keepdims=True))


# ---------------------------------------------------------------------------------------
# Training loop


@dataclass
class Result:
    seconds: float
    steps: int
    updates: int
    episodes: int
    mean_return: float
    best_return: float
    solved: bool
    stopped_by: str
    agent: Agent  # the trained policy and value networks
    saved_at: list[int]  # the step counts at which checkpoints were saved


def save_checkpoint(path: str, agent: Agent, steps: int) -> None:
    """The policy's and the value function's parameters, and the step count, in one .npz
    file: load it with np.load and put the arrays back into the MLPs' params in order."""
    arrays = {f"actor_{i}": p for i, p in enumerate(agent.actor.params)}
    arrays.update({f"critic_{i}": p for i, p in enumerate(agent.critic.params)})
    np.savez(path, steps=np.int64(steps), **arrays)


def train(cfg: Config, logger=None, progress=None, save_path: str | None = None) -> Result:
    env = vorlisk.PyCartPoleVecEnv(cfg.lanes, cfg.workers)
    agent = Agent(cfg, env.observation_size, env.action_space["n"])
    n, t_len, gamma, lam = cfg.lanes, cfg.horizon, F32(cfg.gamma), F32(cfg.gae_lambda)

    obs_buf = np.zeros((t_len, n, env.observation_size), F32)
    act_buf = np.zeros((t_len, n), np.int32)
    logp_buf = np.zeros((t_len, n), F32)
    rew_buf = np.zeros((t_len, n), F32)
    done_buf = np.zeros((t_len, n), F32)
    val_buf = np.zeros((t_len + 1, n), F32)

    start = time.perf_counter()
    obs = env.reset(cfg.seed)
    steps = updates = episodes = 0
    mean_return = best_return = 0.0
    stopped_by = "time budget"
    saved_at: list[int] = []
    total_updates = None
    if cfg.steps_budget is not None:
        total_updates = max(1, -(-cfg.steps_budget // (n * t_len)))
    try:
        while True:
            # Linear learning-rate decay over the step budget when there is one; a fixed
            # rate under a time budget.
            frac = 1.0 - updates / total_updates if total_updates else 1.0
            update_start = time.perf_counter()
            for t in range(t_len):
                obs_buf[t] = obs
                actions, logp = agent.act(obs)
                val_buf[t] = agent.value(obs)
                obs, rewards, terminals, truncations = env.step(actions)
                act_buf[t], logp_buf[t] = actions, logp
                rew_buf[t] = rewards
                done_buf[t] = terminals | truncations
                # A truncated episode did not end in the task: its return goes on beyond
                # the cut, so its last reward is followed by the value of the observation
                # it reached. The lane's row in `obs` already belongs to its next episode,
                # so that observation comes from final_observations().
                cut = truncations & (terminals ^ 1)
                if cut.any():
                    lanes, finals = env.final_observations()
                    keep = cut[lanes].astype(bool)
                    rew_buf[t, lanes[keep]] += gamma * agent.value(finals[keep])
            val_buf[t_len] = agent.value(obs)
            steps += n * t_len

            # Generalised advantage estimation, backwards over the horizon.
            adv = np.zeros((t_len, n), F32)
            last = np.zeros(n, F32)
            for t in reversed(range(t_len)):
                alive = 1.0 - done_buf[t]
                delta = rew_buf[t] + gamma * val_buf[t + 1] * alive - val_buf[t]
                last = delta + gamma * lam * alive * last
                adv[t] = last
            returns = adv + val_buf[:t_len]

            stats = agent.update(obs_buf.reshape(-1, obs_buf.shape[-1]), act_buf.reshape(-1),
                                 logp_buf.reshape(-1), adv.reshape(-1), returns.reshape(-1),
                                 cfg.lr * frac)
            updates += 1

            logs = env.get_logs()
            env.clear_logs()
            episodes += int(logs["episode_count"])
            if logs["episode_count"] > 0:
                mean_return = logs["mean_reward"]
                best_return = max(best_return, mean_return)
            elapsed = time.perf_counter() - start
            sps = n * t_len / max(time.perf_counter() - update_start, 1e-9)
            if logger is not None:
                # The metrics declared when the logger was made go in by name; the
                # episode length only when an episode ended.
                lengths = {"episode_len": logs["mean_length"]} if logs["episode_count"] > 0 else {}
                logger.update(steps, episodes, mean_return, sps, policy_loss=stats.policy_loss,
                              value_loss=stats.value_loss, entropy=stats.entropy,
                              kl=stats.kl, clip_frac=stats.clip_frac, **lengths)
            if progress is not None:
                progress(updates, steps, episodes, mean_return, sps, stats, elapsed)
            if logger is not None and logger.should_save() and save_path:
                save_checkpoint(save_path, agent, steps)
                saved_at.append(steps)

            if logs["episode_count"] > 0 and mean_return >= cfg.target:
                stopped_by = "target"
                break
            if logger is not None and logger.should_quit():
                stopped_by = "quit"
                break
            if cfg.steps_budget is not None and steps >= cfg.steps_budget:
                stopped_by = "step budget"
                break
            if elapsed >= cfg.time_budget:
                break
    except KeyboardInterrupt:  # Ctrl-C ends training like q
        stopped_by = "interrupt"
    return Result(time.perf_counter() - start, steps, updates, episodes, mean_return, best_return,
                  stopped_by == "target", stopped_by, agent, saved_at)


def summary(cfg: Config, result: Result, csv_path: str | None, save_path: str | None = None) -> str:
    how = {
        "target": f"Solved CartPole in {result.seconds:.1f} s",
        "quit": f"Stopped by q after {result.seconds:.1f} s",
        "time budget": f"Time budget used up after {result.seconds:.1f} s",
        "step budget": f"Step budget used up after {result.seconds:.1f} s",
        "interrupt": f"Interrupted after {result.seconds:.1f} s",
    }[result.stopped_by]
    text = (
        f"{how}: mean episode return {result.mean_return:.1f} over the episodes of the last "
        f"update (target {cfg.target:g}, best {result.best_return:.1f}), after {result.steps:,} "
        f"steps in {result.updates} updates and {result.episodes:,} episodes on {cfg.lanes} "
        f"lanes ({result.steps / result.seconds:,.0f} steps/s overall)."
    )
    if csv_path:
        text += f" Metrics of every update are in {os.path.abspath(csv_path)}."
    if result.saved_at:
        at = ", ".join(f"{s:,}" for s in result.saved_at)
        text += (f" Saved the networks (s pressed) at step{'s' * (len(result.saved_at) > 1)} {at}"
                 f" to {os.path.abspath(save_path)}.")
    return text


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lanes", type=int, default=4096, help="CartPole lanes (default 4096)")
    parser.add_argument("--workers", type=int, default=1,
                        help="chunks on vorlisk's worker pool; 1 steps on this thread")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--time-budget", type=float, default=120.0, metavar="SECONDS",
                        help="stop after this much wall time (default 120)")
    parser.add_argument("--steps", type=int, default=None, metavar="N",
                        help="stop after N environment steps (all lanes together)")
    parser.add_argument("--target", type=float, default=195.0,
                        help="stop when an update's mean episode return reaches this")
    parser.add_argument("--mode", choices=["dashboard", "minimal", "chart", "none"],
                        default="dashboard", help="monitor view; none: no monitor")
    parser.add_argument("--csv", default=None, metavar="PATH",
                        help="CSV metrics file written by the monitor (default "
                             "cartpole_metrics.csv; '' for none)")
    parser.add_argument("--save", default="cartpole_checkpoint.npz", metavar="PATH",
                        help="where s in the monitor saves the networks' parameters (default "
                             "cartpole_checkpoint.npz; '' to ignore s)")
    parser.add_argument("--hold", type=float, default=30.0, metavar="SECONDS",
                        help="when training ends on its own, keep the monitor on screen until "
                             "q or for this long (default 30)")
    parser.add_argument("--horizon", type=int, default=Config.horizon)
    parser.add_argument("--epochs", type=int, default=Config.epochs)
    parser.add_argument("--minibatches", type=int, default=Config.minibatches)
    parser.add_argument("--lr", type=float, default=Config.lr)
    args = parser.parse_args(argv)

    cfg = Config(lanes=args.lanes, workers=args.workers, seed=args.seed,
                 horizon=args.horizon, epochs=args.epochs, minibatches=args.minibatches,
                 lr=args.lr, time_budget=args.time_budget, steps_budget=args.steps,
                 target=args.target)
    csv_path = "cartpole_metrics.csv" if args.csv is None else args.csv or None
    # np.savez adds the extension when it is missing; the summary names the real file.
    save_path = args.save and (args.save if args.save.endswith(".npz") else args.save + ".npz")
    # Asked before the logger starts: while its display is on, standard output is a pipe.
    displayed = args.mode != "none" and sys.stdout.isatty()
    # --mode none: no display, but the logger still writes the CSV file.
    logger = vorlisk.TUILogger(mode="minimal" if args.mode == "none" else args.mode,
                               csv_path=csv_path, total_steps=args.steps,
                               metrics=("kl", "clip_frac", "episode_len"),
                               display=args.mode != "none")

    # The monitor owns a terminal; print progress lines only where there is none.
    progress = None
    if not displayed:
        def progress(updates, steps, episodes, mean_return, sps, stats, elapsed):
            print(f"update {updates:4d}  steps {steps:>11,}  episodes {episodes:>8,}  "
                  f"return {mean_return:6.1f}  {sps:>9,.0f} steps/s  "
                  f"policy {stats.policy_loss:+.4f}  value {stats.value_loss:8.3f}  "
                  f"entropy {stats.entropy:.3f}  {elapsed:5.1f} s", flush=True)

    try:
        result = train(cfg, logger, progress, save_path)
        if progress is None and result.stopped_by not in ("quit", "interrupt"):
            # Training often ends within seconds; leave the final figures on screen
            # until the user has seen them and pressed q (or s, to keep the result).
            hold_until = time.perf_counter() + args.hold
            while not logger.should_quit() and time.perf_counter() < hold_until:
                if logger.should_save() and save_path:
                    save_checkpoint(save_path, result.agent, result.steps)
                    result.saved_at.append(result.steps)
                time.sleep(0.05)
    finally:
        logger.close()  # restores the terminal before the summary is printed
    print(summary(cfg, result, csv_path, save_path))
    return 0 if result.solved or result.stopped_by != "time budget" else 1


if __name__ == "__main__":
    sys.exit(main())
