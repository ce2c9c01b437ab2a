"""The shot as a tqmotion scene file, baked one frame at a time.

Every target is written where the camera Blender renders at that frame sees
it: in that camera's space, through the camera's world matrix as Blender
normalises it (each axis made unit length, a shear or a mirror kept, as
world_to_camera_view and the renderers do). The scene file's one camera sits
at the origin looking down -Z, with Y up, Blender's own camera axes, so the
host's camera space is Blender's. A camera switched by timeline markers, a
parent that scales and shears the camera, a mirrored camera: all of it is in
the points, none of it needs the host's rigid camera to express it.

Each frame's points go through a map of camera space (lens.py) under which
the host's projection, through the plate the scene file's camera carries
(the shot's shift and pixel aspect, or a movie clip's lens), lands where
Blender's does; the focal length is the host's lens factor as a focal length
on its 35-unit film.

One frame_set a frame for every target: the camera's map is worked out with
mathutils, the targets' matrices read in bulk, and all of their points are
carried through the maps at the end (points.py) and written as text all at
once (digits.py). tqhost is asked what it will write on a copy of the scene
file with one key a channel, which it reads in a fraction of the time.
"""

import json
import math
import re

import mathutils

from .common import ExportError, frame_rate, image_size, shot_range
from .digits import keys_texts
from .lens import clip_plate, frame_lines, rendered_plate
from .points import Points

GEOMETRY_TYPES = {"MESH", "CURVE", "SURFACE", "FONT", "META"}


def model_centre(ob, depsgraph):
    """The centre of a target's evaluated geometry in its own space: the mean
    of the face corners (a mesh without faces: of its vertices); None
    without vertices."""
    ob_eval = ob.evaluated_get(depsgraph)
    mesh = ob_eval.to_mesh()
    try:
        corners = [i for p in mesh.polygons for i in p.vertices] or range(len(mesh.vertices))
        total = mathutils.Vector()
        for i in corners:
            total += mesh.vertices[i].co
        return total / len(corners) if len(corners) else None
    finally:
        ob_eval.to_mesh_clear()


def check_camera(camera, frame):
    if camera is None:
        raise ExportError(f"There is no scene camera at frame {frame}: set one in Scene "
                          "Properties (or a marker's camera)")
    if camera.type != "CAMERA":
        raise ExportError(f"The scene camera '{camera.name}' is not a camera object")
    cam = camera.data
    if cam.type != "PERSP":
        raise ExportError(f"The camera '{camera.name}' is not perspective ({cam.type.lower()})"
                          "; only a perspective camera gives screen tracks")


def camera_space(camera, frame, render, plate, width, height):
    """(the map from world to the host's camera space, the focal length)."""
    check_camera(camera, frame)
    lines, half_width = frame_lines(camera.data, render, width, height)
    if not all(map(math.isfinite, (half_width, *lines[0], *lines[1]))):
        raise ExportError(f"The camera '{camera.name}' has a lens, sensor or shift that is not a "
                          f"number at frame {frame}")
    lens = plate.lens or half_width
    normalised = camera.matrix_world.normalized()
    if abs(normalised.to_3x3().determinant()) < 1e-12:
        raise ExportError(f"The camera '{camera.name}' is flattened at frame {frame} (a scale of "
                          "0 on an axis); it sees no image")
    return (plate.camera_map(lines, width, height, lens) @ normalised.inverted(),
            35.0 / (2.0 * lens))


class Bake:
    """The per-frame points of the targets and the cameras that saw them."""

    def __init__(self, context, targets, mode, distort=False):
        self.context, self.targets, self.mode = context, targets, mode
        self.scene = context.scene
        self.distort, self.plate = distort, None
        self.points = None  # [targets, frames, x y z], in the host's camera space
        self.focal = []
        self.cameras = []  # [name, first frame, last frame]
        self.size, self.frames, self.rate = None, None, None  # the image's, the range's, fps

    def locals_at_start(self):
        """Each target's point in its own space where it is not its origin (a
        model's centre), else None."""
        depsgraph = self.context.evaluated_depsgraph_get()
        return [model_centre(ob, depsgraph) if bone is None and self.mode == "MODEL_CENTER"
                and ob.type in GEOMETRY_TYPES else None for _, ob, bone in self.targets]

    def frame(self, frame, width, height):
        """The map from world to the host's camera space at this frame."""
        camera = self.scene.camera
        if self.plate is None:
            check_camera(camera, frame)
            self.plate = (clip_plate(self.scene, width, height) if self.distort else
                          rendered_plate(camera.data, self.scene.render, width, height))
        to_camera, focal = camera_space(camera, frame, self.scene.render, self.plate, width,
                                        height)
        self.focal.append([frame, focal])
        if self.cameras and self.cameras[-1][0] == camera.name:
            self.cameras[-1][2] = frame
        else:
            self.cameras.append([camera.name, frame, frame])
        return to_camera

    def run(self):
        """Steps through the shot: every target's point at every frame, in
        the host's camera space, and the cameras that saw them."""
        scene = self.scene
        width, height = image_size(scene.render)
        start, end = shot_range(scene)
        # Taken now with the rest of the shot: the scene files are laid out
        # once tqhost has said its plan, while the scene may be edited.
        self.size, self.frames = (width, height), range(start, end + 1)
        self.rate = frame_rate(scene.render)
        progress = self.context.window_manager
        saved = scene.frame_current, scene.frame_subframe
        progress.progress_begin(start, end)
        to_camera, points = [], None
        try:
            for frame in range(start, end + 1):
                progress.progress_update(frame)
                scene.frame_set(frame)
                if points is None:  # a model's centre as it is at the first frame
                    points = Points(self.context.view_layer, self.targets,
                                    self.locals_at_start(), end - start + 1)
                to_camera.append(self.frame(frame, width, height))
                points.read()
        finally:
            progress.progress_end()
            scene.frame_set(saved[0], subframe=saved[1])
        self.points = points.in_camera(to_camera)

    def camera_name(self):
        """The scene file's camera: named after the cameras used, in the order
        they were first used ("ShotCam+SideCam")."""
        names = list(dict.fromkeys(name for name, _, _ in self.cameras))
        name = "+".join(names)
        if any(ord(c) < 32 for c in name):
            raise ExportError(f"The camera name {name!r} holds a control character, which scene "
                              "files refuse; rename it")
        if name in (t[0] for t in self.targets):
            raise ExportError(f"A target is named '{name}' as the camera is; rename one")
        return name

    def keys(self, first, last, count=None):
        """The keys of the targets first to last (not included) as the scene
        file writes them, bytes each: count of them (default: all)."""
        return keys_texts(self.frames[:count], self.points[first:last, :count])

    def scene_file(self, first, last, tracks, count=None):
        """The scene file of the targets first to last (not included), their
        keys written (keys()), in UTF-8: the keys are written by hand, as
        json's encoder takes longer than the whole bake. count: how many of
        the focal length's keys to write (default: all)."""
        camera = {"type": "camera", "name": self.camera_name(),
                  "focalLength": {"keys": self.focal[:count]}, **self.plate.keys(),
                  "output": {"width": self.size[0], "height": self.size[1],
                             "startFrame": self.frames[0], "endFrame": self.frames[-1]}}
        objects = [camera]
        for i, (name, _, _) in enumerate(self.targets[first:last]):
            # A stand-in for the keys: a control character no name holds.
            target = {"type": "null", "name": name, "translate": {"keys": f"\x01{i}"}}
            if self.mode == "MODEL_CENTER":
                # The point is the centre: a model whose centre is its origin.
                target.update(type="model", points=[[0.0, 0.0, 0.0]], patches=[[0, 0, 0, 0]])
            objects.append(target)
        text = json.dumps({"format": "tq-scene", "version": 1,
                           "project": {"name": "Blender", "fps": self.rate,
                                       "time": self.frames[0]},
                           "chor": {"name": "Chor1", "time": self.frames[0], "objects": objects}},
                          ensure_ascii=False, allow_nan=False)
        pieces = re.split(rb'"\\u0001(\d+)"', text.encode("utf-8"))
        pieces[1::2] = [tracks[int(i)] for i in pieces[1::2]]
        return b"".join(pieces)

    def plan_file(self):
        """The scene file with one key a channel: as much as tqhost needs to
        say what it will write (the names, the range, the settings), a
        fraction of the whole to read."""
        return self.scene_file(0, len(self.targets), self.keys(0, len(self.targets), 1), 1)
