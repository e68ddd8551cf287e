"""Trains the CartPole agent of train_cartpole.py, then records one lane of the trained
policy (taking its likeliest action) as an animated GIF with Pillow, or as an MP4 where
imageio has a video writer.

    python3 examples/record_cartpole.py [--out cartpole.gif] [--frames 200] [--lanes 4096]
        [--steps N] [--time-budget 120] [--seed 0]
"""

from __future__ import annotations

import argparse
import sys
from importlib.util import find_spec

import numpy as np

import vorlisk
from train_cartpole import Config, summary, train

FPS = 50  # a CartPole step is 0.02 s


def writer(path: str):
    """A function that writes a list of frames to `path`, or None, after saying on
    standard error what to install, when the library it needs is missing."""
    if path.lower().endswith(".mp4"):
        if not find_spec("imageio") or not (find_spec("imageio_ffmpeg") or find_spec("av")):
            print("Writing an MP4 needs imageio and a video backend: pip install "
                  "'imageio[ffmpeg]' (or give a .gif name to use Pillow)", file=sys.stderr)
            return None
        import imageio.v3 as iio
        return lambda frames: iio.imwrite(path, np.stack(frames), fps=FPS)
    try:
        from PIL import Image
    except ImportError:
        print("Writing a GIF needs Pillow: pip install pillow", file=sys.stderr)
        return None

    def save(frames: list[np.ndarray]) -> None:
        images = [Image.fromarray(frame) for frame in frames]
        images[0].save(path, save_all=True, append_images=images[1:], duration=1000 // FPS, loop=0)
    return save


def record(agent, frames: int, seed: int) -> list[np.ndarray]:
    """`frames` frames of a fresh lane driven by the agent's likeliest actions; an
    episode that ends restarts in the next frame."""
    env = vorlisk.PyCartPoleVecEnv(1)
    obs = env.reset(seed)
    clip = [env.render(0)]
    while len(clip) < frames:
        obs = env.step(np.argmax(agent.actor.forward(obs)[0], axis=1).astype(np.int32))[0]
        clip.append(env.render(0))
    return clip


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default="cartpole.gif", help="a .gif or .mp4 file name")
    parser.add_argument("--frames", type=int, default=200, help="frames to record (50 a second)")
    parser.add_argument("--lanes", type=int, default=4096, help="CartPole lanes to train on")
    parser.add_argument("--steps", type=int, default=None, metavar="N",
                        help="stop training after N environment steps")
    parser.add_argument("--time-budget", type=float, default=120.0, metavar="SECONDS")
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args(argv)
    save = writer(args.out)  # before training, so that a missing library costs no wait
    if save is None:
        return 2
    cfg = Config(lanes=args.lanes, seed=args.seed, time_budget=args.time_budget,
                 steps_budget=args.steps)
    result = train(cfg)
    print(summary(cfg, result, None))
    save(record(result.agent, args.frames, args.seed))
    print(f"Recorded {args.frames} frames of one lane in {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
