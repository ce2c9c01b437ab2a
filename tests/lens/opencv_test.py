#!/usr/bin/env python3
"""Lens distortion against OpenCV's own: tqhost's tracks through a distorting
camera compared with cv2.projectPoints on the same camera and points, within
0.01 px, over coefficient sets from mild barrel to strong pincushion with
tangential terms, points spread over the whole image and beyond it. Points
beyond where the radial polynomial folds must be written as points that could
not be projected. Usage: opencv_test.py TQHOST"""
import json, os, subprocess, sys, tempfile
try:
    import cv2
    import numpy as np
except ImportError:
    sys.exit('FAIL: OpenCV\'s Python module is not installed (scripts/setup.sh installs python3-opencv)')

HOST, work, failures = os.path.abspath(sys.argv[1]), tempfile.mkdtemp(), []
MARKER = -2147483648.0

# (name, (k1, k2, p1, p2, k3), (width, height), focal, (offset x, y), pixel aspect, by option)
CASES = [
    ('mild barrel', (-0.05, 0.002, 0, 0, 0), (1920, 1080), 35, (0, 0), 1, False),
    ('strong barrel', (-0.6, 0.1, 0, 0, -0.01), (1920, 1080), 24, (0, 0), 1, True),
    ('pincushion', (0.2, 0.05, 0, 0, 0.01), (641, 481), 50, (0, 0), 1, False),
    ('tangential', (-0.12, 0.01, 0.004, -0.003, 0), (1280, 720), 35, (0.05, -0.02), 1, True),
    ('strong pincushion, tangential', (0.45, 0.2, -0.01, 0.008, 0.05), (2048, 858), 40,
     (-0.1, 0.08), 2, False),
    ('barrel on tall pixels', (-0.2, 0.0, 0.002, 0.001, 0.0), (1000, 1000), 30, (0, 0.1), 0.5, True),
    # g dips below zero only for slopes from about 0.998 to 1.003.
    ('a narrow fold', (-0.33298980140011375, -0.2000031039916168, 0, 0, 0.14270769774889386),
     (1920, 1080), 20, (0, 0), 1, False),
]


def fold_slope2(k1, k2, k3):  # the first r^2 where d/dr [r (1 + k1 r^2 + k2 r^4 + k3 r^6)] = 0
    roots = np.roots([7 * k3, 5 * k2, 3 * k1, 1.0])
    s = [r.real for r in roots if abs(r.imag) < 1e-12 and r.real > 0]
    return min(s) if s else float('inf')


def run(name, k, size, focal, offset, aspect, by_option):
    width, height = size
    hw, hh = width // 2, height // 2
    fx = focal / 17.5 * hw
    fy = focal / 17.5 * (width / height) * hh * aspect
    fold2 = fold_slope2(k[0], k[1], k[4])
    # Slopes over 1.6 times the picture each way, at depths 1 to 20.
    grid = [(sx, sy) for sx in np.linspace(-1.6 * hw / fx, 1.6 * hw / fx, 13)
            for sy in np.linspace(-1.6 * hh / fy * aspect, 1.6 * hh / fy * aspect, 11)]
    points = [np.float32([sx * d, -sy * d, -d]) for i, (sx, sy) in enumerate(grid)
              for d in [1.0 + (i * 7) % 20]]
    camera = {'type': 'camera', 'name': 'Cam "ä" $(x)', 'focalLength': focal,
              'output': {'width': width, 'height': height, 'startFrame': 0,
                         'endFrame': len(points) - 1}}
    options = []
    if by_option:
        options = ['--film-offset', '%r,%r' % offset, '--pixel-aspect', repr(aspect),
                   '--distortion', 'brown:' + ','.join(repr(c) for c in k)]
    else:
        camera.update(filmOffset=list(offset), pixelAspect=aspect,
                      distortion=dict(model='brown', k1=k[0], k2=k[1], p1=k[2], p2=k[3], k3=k[4]))
    keys = [[i, [float(v) for v in p]] for i, p in enumerate(points)]
    scene = {'format': 'tq-scene', 'version': 1, 'project': {'name': 'Lens', 'fps': 24},
             'chor': {'name': 'C', 'objects': [
                 camera, {'type': 'null', 'name': 'P', 'translate': {
                     'interpolation': 'step', 'keys': keys}}]}}
    path = os.path.join(work, 'lens.tqs.json')
    json.dump(scene, open(path, 'w'))
    r = subprocess.run([HOST, 'export', path, '--target', 'P', '--decimals', '6', '-o', '-',
                        *options], capture_output=True, text=True)
    if r.returncode != 0:
        failures.append('%s: tqhost: %s' % (name, r.stderr))
        return
    written = [tuple(map(float, line.split('\t')[1:])) for line in r.stdout.splitlines()]
    cv_points = np.array([[p[0], -p[1], -p[2]] for p in points], dtype=np.float64)
    cx, cy = hw - offset[0] * width, hh - offset[1] * width
    K = np.array([[fx, 0, cx], [0, fy, height - cy], [0, 0, 1]], dtype=np.float64)
    projected, _ = cv2.projectPoints(cv_points, np.zeros(3), np.zeros(3), K, np.array(k, dtype=np.float64))
    worst, inside, beyond, outside_image = 0.0, 0, 0, 0
    for p, (u, v), (x, y) in zip(cv_points, projected.reshape(-1, 2), written):
        r2 = (p[0] / p[2]) ** 2 + (p[1] / p[2]) ** 2
        if r2 >= fold2 * (1 - 1e-9):
            beyond += 1
            if r2 > fold2 * (1 + 1e-6) and (x, y) != (MARKER, MARKER):
                failures.append('%s: a point beyond the fold was written as (%r, %r)' % (name, x, y))
            continue
        inside += 1
        outside_image += not (0 <= x <= width and 0 <= y <= height)
        worst = max(worst, abs(x - u), abs(y - (height - v)))
    print('%-32s %3d points, %3d beyond the fold, %3d outside the picture, worst %.2g px'
          % (name, inside, beyond, outside_image, worst))
    if len(written) != len(points) or inside == 0 or outside_image == 0:
        failures.append('%s: %d lines for %d points, %d inside the fold, %d outside the picture'
                        % (name, len(written), len(points), inside, outside_image))
    if worst > 0.01:
        failures.append('%s: %g px from OpenCV' % (name, worst))
    widest = max(gx * gx + gy * gy for gx, gy in grid)
    if fold2 < widest * 0.9 and beyond == 0:
        failures.append('%s: no point beyond the fold at r = %g' % (name, fold2 ** 0.5))


for case in CASES:
    run(*case)
for f in failures:
    print('FAIL: ' + f)
sys.exit(1 if failures else 0)
