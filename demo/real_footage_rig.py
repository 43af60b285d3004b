#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the rig sidecar file of a dual-fisheye camera from its maker's calibration.txt.

The calibration gives, per lens (front first, then back), RADIUS (pixels) of the image circle,
CENTER x y (pixels from the top-left corner of the image file, y down) and FOV (degrees across
the circle) of an equidistant lens; the back lens is the front lens turned 180 degrees about
the vertical axis. The lens centres sit `--separation` metres apart on the optical axis.

    demo/real_footage_rig.py CALIBRATION WIDTH HEIGHT OUT.json [--separation M] [--convergence M]
"""
import argparse
import json
import math
import sys

SENSOR_WIDTH_MM = 36.0


def read_calibration(path):
    """The lenses of the file, in order: dicts with radius, centre (x, y down) and fov."""
    lenses = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            key, _, value = line.partition(":")
            key = key.strip().upper()
            if key == "RADIUS":
                lenses.append({"radius": float(value)})
            elif key in ("CENTER", "FOV"):
                if not lenses:
                    raise ValueError(f"{path}:{number}: '{key}' before any 'RADIUS'")
                numbers = [float(v) for v in value.split()]
                if key == "CENTER":
                    if len(numbers) != 2:
                        raise ValueError(f"{path}:{number}: 'CENTER' needs two numbers")
                    lenses[-1]["centre"] = numbers
                else:
                    lenses[-1]["fov"] = numbers[0]
    for k, lens in enumerate(lenses):
        for key in ("radius", "centre", "fov"):
            if key not in lens:
                raise ValueError(f"{path}: lens {k + 1} has no '{key.upper()}'")
        if not (lens["radius"] > 0 and 0 < lens["fov"] < 360):
            raise ValueError(f"{path}: lens {k + 1} has a bad 'RADIUS' or 'FOV'")
    if len(lenses) != 2:
        raise ValueError(f"{path}: expected 2 lenses (front, back), found {len(lenses)}")
    return lenses


def camera(view, lens, width, height, z, turn):
    # Equidistant: r = f theta, so f = RADIUS / (FOV / 2) pixels at the rim.
    focal_px = lens["radius"] / math.radians(0.5 * lens["fov"])
    cx, cy_down = lens["centre"]
    cy = height - cy_down  # the rig file counts y up from the bottom
    return {
        "view": view,
        "format": {"width": width, "height": height, "pixel_aspect": 1.0},
        "projection": "fisheye",
        "focal_length": focal_px * SENSOR_WIDTH_MM / width,
        "sensor_size": [SENSOR_WIDTH_MM, SENSOR_WIDTH_MM * height / width],
        "centre_shift": [cx - 0.5 * width, cy - 0.5 * height],
        "distortion": [0.0, 0.0, 0.0],
        "undistort": False,
        "position": [0.0, 0.0, z],
        "rotation": [0.0, turn, 0.0],
        "enabled": True,
        "image_circle": {"centre": [cx, cy], "radius": lens["radius"]},
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("calibration")
    parser.add_argument("width", type=int)
    parser.add_argument("height", type=int)
    parser.add_argument("out")
    parser.add_argument("--separation", type=float, default=0.03,
                        help="distance of the lens centres, metres (0.03)")
    parser.add_argument("--convergence", type=float, default=3.0,
                        help="convergence depth, metres (3)")
    args = parser.parse_args()
    try:
        front, back = read_calibration(args.calibration)
    except (OSError, ValueError) as error:
        sys.exit(str(error))
    half = 0.5 * args.separation
    rig = {
        "version": 1,
        "diameter": args.separation,
        "position": [0.0, 0.0, 0.0],
        "rotation": [0.0, 0.0, 0.0],
        "convergence": args.convergence,
        "cameras": [
            camera("cam1", front, args.width, args.height, half, 0.0),
            camera("cam2", back, args.width, args.height, -half, 180.0),
        ],
    }
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(rig, f, indent=2)
        f.write("\n")


if __name__ == "__main__":
    main()
