"""The export's work: the shot baked, tqhost run on it, its files checked and
put in place. Takes plain values; the operator only drives it.

tqhost is asked first what it will write (tqhost export --plan): the file
names are its alone. Each tqhost writes into a fresh folder of its own in
the tracks' folder, so whatever is found there is from that run; each file is
checked against that plan, tqhost's account of what it wrote and the lines
the range asks for, and only then moved into place, one rename each. A
cancelled or failed export moves nothing: the folders are removed with
whatever tqhost had begun, and what it started is stopped. A shot of many
targets is written by two tqhosts, half the targets each, when no file of
the plan is shared between targets: the first starts while the second's
scene file is laid out, and its files are checked while the second writes.
"""

import os

import bpy

from .bake import Bake
from .common import FORMATS, MODE_FLAGS, ExportError, find_tqhost, image_size, shot_range
from .job import ExportJob
from .targets import resolve_targets


def output_folder(directory, pattern, formats):
    directory = directory or "//"
    if directory.startswith("//") and not bpy.data.filepath:
        raise ExportError(f"The output folder '{directory}' is relative to the .blend file, "
                          "which is not saved yet: save it or choose a folder")
    if not pattern:
        raise ExportError("The file pattern is empty (for example {target}.txt)")
    unknown = [f for f in formats if f not in (n for n, _ in FORMATS)]
    if unknown:
        raise ExportError(f"Unknown format '{unknown[0]}'; the formats are " +
                          ", ".join(n for n, _ in FORMATS))
    return os.path.abspath(bpy.path.abspath(os.path.expanduser(directory)))


def numeric(step, *args):
    """A step of the bake (stepping the shot, a scene file's text), which
    meets a value that is not a number as a ValueError."""
    try:
        return step(*args)
    except ValueError as e:
        raise ExportError(f"The shot holds a value that is not a number ({e})")


def start_export(context, directory, targets_text, mode, formats, pattern, decimals,
                 distort=False):
    """Bakes the shot and starts tqhost on it: the running ExportJob."""
    scene = context.scene
    if scene.camera is None:
        raise ExportError(f"Scene '{scene.name}' has no camera: set one in Scene Properties")
    directory = output_folder(directory, pattern, formats)
    targets = resolve_targets(context, targets_text, scene.camera)
    tqhost = find_tqhost(context)
    if not 0 <= decimals <= 6:
        raise ExportError(f"Decimals {decimals}: give 0 to 6")
    bake = Bake(context, targets, mode, distort)
    numeric(bake.run)
    start, end = shot_range(scene)
    width, height = image_size(scene.render)
    # Each copy named by tqhost after the track's file; its plan says where.
    copies = [n for n, _ in FORMATS if n in formats]
    args = ["export", "--camera=" + bake.camera_name(), "--mode=" + MODE_FLAGS[mode],
            f"--width={width}", f"--height={height}", f"--start={start}", f"--end={end}",
            f"--decimals={decimals}", "--output=" + pattern]
    args += ["--also=" + n for n in copies]
    job = ExportJob(tqhost, args, [t[0] for t in targets], end - start + 1, directory)
    job.cameras, job.copies = bake.cameras, copies
    # tqhost says what it will write while the first half's keys are laid
    # out; a shot of many targets is written in two runs, the first begun
    # while the second half's scene file is laid out.
    n, half = len(targets), len(targets) // 2
    keys = []

    def start_runs(job):
        if job.halves():
            job.start(numeric(bake.scene_file, 0, half, keys), 0, half)
            job.start(numeric(bake.scene_file, half, n, bake.keys(half, n)), half, n)
        else:
            job.start(numeric(bake.scene_file, 0, n, keys + bake.keys(half, n)), 0, n)

    job.begin(numeric(bake.plan_file), start_runs)
    try:
        keys += bake.keys(0, half)
        job.planned()  # the runs started at once when tqhost has answered already
    except BaseException:
        job.cancel()
        raise
    return job
