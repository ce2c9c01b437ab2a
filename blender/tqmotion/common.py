"""What the add-on's modules share: its one error type, the formats and modes
it offers, and the shot's range, size and rate as Blender has them."""

import os
import shutil

import bpy


class ExportError(Exception):
    """A reason the export cannot go on, shown as an error report."""


# tqhost's format name and the button's label; tqhost names each copy after
# the track's file (--also FORMAT).
FORMATS = (
    ("nuke", "Nuke"),
    ("ae", "AE"),
    ("shake", "Shake"),
    ("3de", "3DE"),
    ("csv", "CSV"),
    ("json", "JSON"),
)
MODE_ITEMS = (
    ("ORIGIN", "Origin", "Track each target's origin (a bone's head)"),
    ("MODEL_CENTER", "Model centre",
     "Track the centre of each target's geometry: the mean of its face corners at the first "
     "frame, carried by the object's motion (targets without geometry: the origin)"),
)
MODE_FLAGS = {"ORIGIN": "origin", "MODEL_CENTER": "model-center"}
DECIMALS_DEFAULT = 3


def image_size(render):
    """The output size in pixels, as Blender computes it (integer percentage)."""
    return (render.resolution_x * render.resolution_percentage // 100,
            render.resolution_y * render.resolution_percentage // 100)


def shot_range(scene):
    if scene.use_preview_range:
        return scene.frame_preview_start, scene.frame_preview_end
    return scene.frame_start, scene.frame_end


def frame_rate(render):
    # fps_base is single precision in Blender (1.001 reads 1.00100004673);
    # the rate meant has a few decimals.
    return render.fps / round(render.fps_base, 6)


def find_tqhost(context):
    prefs = context.preferences.addons.get(__package__)
    given = prefs.preferences.tqhost if prefs else ""
    if given:
        path = os.path.abspath(bpy.path.abspath(os.path.expanduser(given)))
        if not os.path.isfile(path):
            raise ExportError(f"tqhost not found at '{path}' (the add-on's preferences)")
        if not os.access(path, os.X_OK):
            raise ExportError(f"tqhost at '{path}' is not executable (the add-on's preferences)")
        return path
    found = shutil.which("tqhost")
    if found is None:
        raise ExportError("tqhost not found on PATH (" + os.environ.get("PATH", "") + "); set its "
                          "path in Preferences > Add-ons > tqmotion screen tracks")
    return found
