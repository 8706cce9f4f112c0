#!/usr/bin/env python3
"""Writes the project (.vort) and the recorded flight (.vorn) of every example
under examples/NAME/ from the table below; the shaders, scripts and pictures
beside them are written by hand. Run it again after changing the table:

    python3 scripts/make_examples.py [EXAMPLES_DIR]

A flight is a camera path through key points, each with a point to look at:
positions and look points follow Catmull-Rom curves through the keys, so the
camera glides without jerks, and every record's orientation is the turn that
looks from the position to the look point with the given up direction.
"""
import math
import os
import struct
import sys

RECORD_FLOATS = 12
FRAMES_PER_KEY = 60  # records between two key points: 2.4 s at 25 frames a second
TIME_STEP = 0.02     # animation time per record, as ANIMSPEED


def sub(a, b):
    return [a[i] - b[i] for i in range(3)]


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def normalise(a):
    length = math.sqrt(sum(x * x for x in a))
    return [x / length for x in a]


def look_rows(position, target, up):
    """Rows of the camera matrix: its right, up and forward axes in scene
    coordinates (right = up x forward keeps the matrix a proper turn)."""
    forward = normalise(sub(target, position))
    right = normalise(cross(up, forward))
    return [right, cross(forward, right), forward]


def quat_from_rows(m):
    """The quaternion (x, y, z, w) whose rotation matrix, as the studio builds
    it from a quaternion, is m."""
    trace = m[0][0] + m[1][1] + m[2][2]
    if trace > 0:
        s = 0.5 / math.sqrt(trace + 1.0)
        q = [(m[2][1] - m[1][2]) * s, (m[0][2] - m[2][0]) * s, (m[1][0] - m[0][1]) * s, 0.25 / s]
    elif m[0][0] > m[1][1] and m[0][0] > m[2][2]:
        s = 2.0 * math.sqrt(1.0 + m[0][0] - m[1][1] - m[2][2])
        q = [0.25 * s, (m[0][1] + m[1][0]) / s, (m[0][2] + m[2][0]) / s, (m[2][1] - m[1][2]) / s]
    elif m[1][1] > m[2][2]:
        s = 2.0 * math.sqrt(1.0 + m[1][1] - m[0][0] - m[2][2])
        q = [(m[0][1] + m[1][0]) / s, 0.25 * s, (m[1][2] + m[2][1]) / s, (m[0][2] - m[2][0]) / s]
    else:
        s = 2.0 * math.sqrt(1.0 + m[2][2] - m[0][0] - m[1][1])
        q = [(m[0][2] + m[2][0]) / s, (m[1][2] + m[2][1]) / s, 0.25 * s, (m[1][0] - m[0][1]) / s]
    length = math.sqrt(sum(x * x for x in q))
    return [x / length for x in q]


def rows_from_quat(q):
    x, y, z, w = q
    return [[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
            [2 * (x * y + z * w), 1 - 2 * (z * z + x * x), 2 * (y * z - x * w)],
            [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (y * y + x * x)]]


def angles_from_rows(m):
    """The three angles a project stores beside the quaternion."""
    p = math.asin(max(-1.0, min(1.0, -m[2][1])))
    if math.cos(p) > 0.000001:
        q = math.atan2(m[0][1], m[1][1])
        r = math.atan2(m[2][0], m[2][2])
    else:
        q = math.atan2(-m[1][1], m[0][0])
        r = 0.0
    return [-p, -r, -q]


def catmull_rom(p0, p1, p2, p3, t):
    t2, t3 = t * t, t * t * t
    return [0.5 * (2 * p1[i] + (p2[i] - p0[i]) * t + (2 * p0[i] - 5 * p1[i] + 4 * p2[i] - p3[i]) * t2 +
                   (3 * p1[i] - p0[i] - 3 * p2[i] + p3[i]) * t3) for i in range(3)]


def flight_records(example):
    keys = example["keys"]
    up = example.get("up", [0.0, 1.0, 0.0])
    udef = example["udef"][:4] + [0.0] * (4 - len(example["udef"][:4]))
    records = []
    count = (len(keys) - 1) * FRAMES_PER_KEY + 1
    for n in range(count):
        segment = min(n // FRAMES_PER_KEY, len(keys) - 2)
        t = (n - segment * FRAMES_PER_KEY) / FRAMES_PER_KEY
        k = [keys[max(0, min(len(keys) - 1, segment + j))] for j in (-1, 0, 1, 2)]
        position = catmull_rom(k[0][0], k[1][0], k[2][0], k[3][0], t)
        target = catmull_rom(k[0][1], k[1][1], k[2][1], k[3][1], t)
        q = quat_from_rows(look_rows(position, target, up))
        records.append(position + [n * TIME_STEP] + q + udef)
    return records


def real(value):
    return repr(float(value))


def project_text(name, example):
    position, target = example["keys"][0]
    rows = look_rows(position, target, example.get("up", [0.0, 1.0, 0.0]))
    q = quat_from_rows(rows)
    check = rows_from_quat(q)
    assert all(abs(check[i][j] - rows[i][j]) < 1e-9 for i in range(3) for j in range(3))
    angles = angles_from_rows(rows)
    width, height = example.get("size", (512, 288))
    lines = ["Cobblewick_Vortigo_File", "VERSION=2.00", f"WIDTH={width}", f"HEIGHT={height}",
             "USEMOTIONBLUR=0", "DESPECKLE=0", "SUPERSAMPLE=0", "MAXAVIFRAMES=0",
             f"DOF={1 if example.get('dof') else 0}",
             f"DOF_SCALE={real(example.get('dof_scale', 8.0))}",
             f"DOF_OFFSET={real(example.get('dof_offset', 0.1))}",
             f"MAX_DEPTH={real(example.get('max_depth', 10.0))}",
             f"XCENTER={real(position[0])}", f"YCENTER={real(position[1])}",
             f"ZLENS={real(position[2])}", f"ANGLE={real(example.get('time', 0.0))}",
             f"ANIMSPEED={real(TIME_STEP)}", "FRAMESPERSEC=25"]

    def name_entry(key, value):
        lines.append(f"{key}={len(value.encode())}")
        lines.append(value)

    if example.get("background"):
        lines.append("VIDFRAME1=0")
        name_entry("BGIMAGE1", example["background"])
    name_entry("OUTPUT", "")
    name_entry("VSFILE", f"{name}.vert")
    name_entry("FSFILE", f"{name}.frag")
    name_entry("ASFILE", f"{name}.anim")
    name_entry("FLIGHTDATA", f"{name}.vorn")
    for axis, value in zip("XYZ", angles):
        lines.append(f"CAMERAROTATION{axis}={real(value)}")
    for axis, value in zip("XYZW", q):
        lines.append(f"CAMERAQUAT{axis}={real(value)}")
    udef = example["udef"] + [0.0] * (16 - len(example["udef"]))
    for i, value in enumerate(udef):
        lines.append(f"UDEF{i}={real(value)}")
    return "\n".join(lines) + "\n"


# Each example: key points (camera position, look point), udef values, and
# the project's depth settings; the two slowest scenes start at a smaller
# frame size so that they fly smoothly on a software renderer too. Scenes sit around the origin; a camera at
# rest looks along +z.
EXAMPLES = {
    "mandelbulb": {
        "keys": [([0.0, 0.3, -3.2], [0, 0, 0]), ([1.6, 0.8, -1.9], [0, 0, 0]),
                 ([1.7, 0.2, -0.2], [0.3, 0, 0]), ([0.5, -0.2, -1.25], [0.0, -0.1, 0.2])],
        "udef": [0.0, 0.0, 0.0, 0.0], "dof": True, "dof_scale": 10.0, "dof_offset": 0.25,
        "max_depth": 8.0,
    },
    "mandelbox": {
        "keys": [([3.0, 2.0, -6.0], [0, 0, 0]), ([0.0, 0.5, -4.5], [0, 0, 0]),
                 ([1.5, 1.5, -3.5], [0, 0, 0]), ([0.2, 0.4, -2.2], [0, 0.2, 0])],
        "udef": [0.55, 0.0, 0.0, 0.0], "max_depth": 20.0,
    },
    "menger": {
        "keys": [([2.0, 1.5, -2.6], [0, 0, 0]), ([0.0, 0.0, -2.4], [0, 0, 0]),
                 ([1.4, 0.9, -1.4], [0.3, 0.3, 0]), ([0.7, 0.0, -1.3], [0.7, 0.0, 0.5])],
        "udef": [0.0, 0.0, 0.0, 0.0], "max_depth": 12.0, "background": "nebula.jpg",
    },
    "quatjulia": {
        "keys": [([0.0, 0.0, -3.0], [0, 0, 0]), ([2.0, 1.0, -2.0], [0, 0, 0]),
                 ([2.4, -0.6, 0.8], [0, 0, 0]), ([0.6, 0.6, 1.6], [0, 0, 0])],
        "udef": [0.1, 0.0, 0.0, 0.0], "dof": True, "dof_scale": 9.0, "dof_offset": 0.3,
        "max_depth": 8.0,
    },
    "sierpinski": {
        "keys": [([2.0, 1.7, -2.2], [0, 0.1, 0]), ([0.0, 0.4, -3.0], [0, 0, 0]),
                 ([0.9, 0.8, -0.4], [0.5, 0.5, 0.5]), ([0.2, 0.1, -1.0], [0.6, 0.4, 0.6])],
        "udef": [0.0, 0.0, 0.0, 0.0], "dof": True, "dof_scale": 10.0, "dof_offset": 0.2,
        "max_depth": 8.0,
    },
    "apollonian": {
        "keys": [([0.3, 0.2, -1.8], [0.0, 0.0, 0.0]), ([0.9, 0.5, -0.6], [0.0, 0.0, 0.3]),
                 ([0.6, 0.2, 0.6], [0.0, 0.0, 0.5]), ([0.1, 0.1, 0.2], [-0.4, 0.0, 0.8])],
        "udef": [0.0, 0.0, 0.0, 0.0], "max_depth": 6.0, "size": (384, 216),
    },
    "kaliset": {
        "keys": [([0.6, 0.35, -1.1], [0, 0, 0.6]), ([0.2, 0.0, -0.6], [0, 0, 0.6]),
                 ([0.3, -0.3, 0.2], [0, 0, 1.2]), ([-0.2, 0.1, 1.0], [0, 0, 2.0])],
        "udef": [0.0, 0.0, 0.0, 0.0], "max_depth": 6.0, "size": (384, 216),
    },
    "octahedron": {
        "keys": [([0.4, 0.6, -3.0], [0, 0, 0]), ([1.8, 0.9, -1.4], [0, 0, 0]),
                 ([1.2, 0.3, -0.3], [0.5, 0.0, 0.0]), ([0.6, 0.05, -0.35], [0.75, 0.0, 0.2])],
        "udef": [0.0, 0.0, 0.0, 0.0], "max_depth": 10.0,
    },
    "burningship": {
        "keys": [([0.0, 0.0, -3.0], [0.0, 0.0, 0.0]), ([-1.3, -0.47, -1.5], [-1.3, -0.47, 0.0]),
                 ([-1.31, -0.47, 0.6], [-1.31, -0.47, 1.6])],
        "udef": [0.0, 0.0, 0.0, 0.0],
    },
    "newton": {
        "keys": [([0.0, 0.0, -3.0], [0, 0, 0]), ([0.2, 0.1, -1.5], [0.2, 0.1, 0.0]),
                 ([-0.25, 0.43, 0.5], [-0.25, 0.43, 1.5])],
        "udef": [0.0, 0.0, 0.0, 0.0],
    },
    "juliamorph": {
        "keys": [([0.0, 0.0, -3.0], [0, 0, 0]), ([0.0, 0.0, -2.5], [0, 0, 0]),
                 ([0.3, 0.2, -1.5], [0.3, 0.2, 0.0]), ([0.0, 0.0, -3.0], [0, 0, 0])],
        "udef": [0.0, 0.0, 0.0, 0.0],
    },
}


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "examples")
    for name, example in EXAMPLES.items():
        folder = os.path.join(root, name)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"{name}.vort"), "w", encoding="utf-8") as f:
            f.write(project_text(name, example))
        with open(os.path.join(folder, f"{name}.vorn"), "wb") as f:
            f.write(bytes([RECORD_FLOATS]))
            for record in flight_records(example):
                f.write(struct.pack("<12f", *record))


if __name__ == "__main__":
    main()
