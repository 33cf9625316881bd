#!/usr/bin/env python3
"""Writes a reproducible corpus of photo-like PNG images for the conversion benchmark.

Each image is a smooth colour field (gradients and soft blobs, as sky, walls and out-of-focus
backgrounds are) with hard-edged shapes and thin lines over it (the structure a scene has) and
sensor-like noise on top, which is what keeps real photos from compressing well. The RGBA set
adds an alpha channel shaped like a cut-out: opaque in the middle, fading out towards the
edges, fully transparent in places.

Same seed, same images: numpy's PCG64 generator is fixed per image and nothing else draws
random numbers.
"""

import argparse
import os
import sys

import numpy as np
from PIL import Image

SEED = 20240613


def smooth_field(rng, height, width, cells):
    """Low-frequency noise: a coarse random grid scaled up bilinearly, values in 0..1."""
    coarse = rng.random((cells + 1, cells + 1), dtype=np.float32)
    ys = np.linspace(0, cells, height, dtype=np.float32)
    xs = np.linspace(0, cells, width, dtype=np.float32)
    y0 = np.minimum(ys.astype(np.int32), cells - 1)
    x0 = np.minimum(xs.astype(np.int32), cells - 1)
    fy = (ys - y0)[:, None]
    fx = (xs - x0)[None, :]
    top = coarse[y0][:, x0] * (1 - fx) + coarse[y0][:, x0 + 1] * fx
    bottom = coarse[y0 + 1][:, x0] * (1 - fx) + coarse[y0 + 1][:, x0 + 1] * fx
    return top * (1 - fy) + bottom * fy


def photo(rng, height, width):
    """An RGB image as float32 in 0..255."""
    y = np.linspace(0.0, 1.0, height, dtype=np.float32)[:, None]
    x = np.linspace(0.0, 1.0, width, dtype=np.float32)[None, :]
    image = np.empty((height, width, 3), dtype=np.float32)

    # A sky-to-ground gradient per channel with a slow tilt.
    top = rng.uniform(60, 230, 3)
    bottom = rng.uniform(20, 180, 3)
    tilt = rng.uniform(-40, 40, 3)
    for c in range(3):
        image[:, :, c] = top[c] + (bottom[c] - top[c]) * y + tilt[c] * (x - 0.5)

    # Soft blobs of colour.
    for _ in range(7):
        cy, cx = rng.uniform(0, 1, 2)
        radius = rng.uniform(0.05, 0.35)
        colour = rng.uniform(-90, 90, 3)
        weight = np.exp(-(((y - cy) ** 2) + ((x - cx) * width / height) ** 2) / (2 * radius**2))
        image += weight[:, :, None] * colour[None, None, :].astype(np.float32)

    # Lighting that varies slowly across the frame.
    image *= (0.75 + 0.5 * smooth_field(rng, height, width, 6))[:, :, None]

    # Structure: shaded rectangles, discs and thin lines with hard edges.
    for _ in range(6):
        h = int(rng.uniform(0.05, 0.3) * height)
        w = int(rng.uniform(0.05, 0.3) * width)
        top_row = int(rng.uniform(0, height - h))
        left = int(rng.uniform(0, width - w))
        shade = np.linspace(1.0, rng.uniform(0.6, 1.2), w, dtype=np.float32)[None, :, None]
        image[top_row:top_row + h, left:left + w] = rng.uniform(10, 245, 3) * shade
    for _ in range(5):
        cy, cx = rng.uniform(0.1, 0.9, 2)
        radius = rng.uniform(0.03, 0.12)
        disc = ((y - cy) ** 2 + ((x - cx) * width / height) ** 2) < radius**2
        image[disc] = rng.uniform(10, 245, 3)
    for _ in range(12):
        row = int(rng.uniform(0, height - 4))
        image[row:row + int(rng.integers(1, 4)), :] *= rng.uniform(0.4, 0.9)

    # Fine texture and sensor noise.
    image += (smooth_field(rng, height, width, 160)[:, :, None] - 0.5) * 24
    image += rng.normal(0.0, 3.5, image.shape).astype(np.float32)
    return np.clip(image, 0, 255)


def alpha_mask(rng, height, width):
    """A cut-out: opaque centre, soft fall-off, transparent holes; uint8."""
    y = np.linspace(-1.0, 1.0, height, dtype=np.float32)[:, None]
    x = np.linspace(-1.0, 1.0, width, dtype=np.float32)[None, :]
    distance = np.sqrt((x / rng.uniform(0.8, 1.0)) ** 2 + (y / rng.uniform(0.8, 1.0)) ** 2)
    alpha = np.clip((1.05 - distance) * 4.0, 0.0, 1.0) * 255
    for _ in range(3):
        cy, cx = rng.uniform(-0.6, 0.6, 2)
        radius = rng.uniform(0.05, 0.2)
        alpha[((y - cy) ** 2 + (x - cx) ** 2) < radius**2] = 0
    return alpha.astype(np.uint8)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="folder that receives the rgb/ and rgba/ sets")
    parser.add_argument("--count", type=int, default=8, help="images per set (8)")
    parser.add_argument("--width", type=int, default=2400)
    parser.add_argument("--height", type=int, default=1600)
    args = parser.parse_args()

    for kind in ("rgb", "rgba"):
        folder = os.path.join(args.out, kind)
        os.makedirs(folder, exist_ok=True)
        for index in range(args.count):
            rng = np.random.default_rng([SEED, index, 1 if kind == "rgba" else 0])
            pixels = photo(rng, args.height, args.width).astype(np.uint8)
            if kind == "rgba":
                pixels = np.dstack([pixels, alpha_mask(rng, args.height, args.width)])
            image = Image.fromarray(pixels, "RGBA" if kind == "rgba" else "RGB")
            # Every other image states a resolution, as camera and scanner files do.
            dpi = (300, 300) if index % 2 else None
            path = os.path.join(folder, f"{kind}-{index + 1:02d}.png")
            image.save(path, "PNG", **({"dpi": dpi} if dpi else {}))
            print(path, file=sys.stderr)


if __name__ == "__main__":
    main()
