"""The targets' points, read in bulk at each frame and carried into each
frame's camera space all at once, in mathutils' own arithmetic.

A frame costs one read of every object's world matrix (foreach_get on the
view layer's objects, straight into an array that holds many frames) and
one read of each tracked armature's bone heads; the matrices and heads the
targets need are kept (picked out many frames at once), and after the last
frame numpy does what `to_camera @ (world @ head)` would have done target
by target, with the same single-precision result to the bit (transform).
"""

import numpy as np

from .common import ExportError

MATRICES_AT_ONCE = 1 << 18  # world matrices read before the targets' are picked out (16 MiB)


def transform(matrices, points):
    """matrices @ points, 4 x 4 (rows) by 3 (w = 1), as mathutils' Matrix @
    Vector computes it: each product in single precision, the products summed
    in double from 0.0 in column order, the sum rounded to single. Do not
    reorder the sums nor take the products in double: the bits change."""
    out = np.empty(np.broadcast_shapes(matrices.shape[:-2], points.shape[:-1]) + (3,),
                   np.float32)
    with np.errstate(all="ignore"):  # an overflow or NaN stays in the point, as in mathutils
        for row in range(3):
            total = np.zeros(out.shape[:-1])
            for col in range(3):
                total += matrices[..., row, col] * points[..., col]
            total += matrices[..., row, 3]
            out[..., row] = total
    return out


class Points:
    """Each target's point at every frame: read() once a frame, after
    frame_set, then in_camera()."""

    def __init__(self, view_layer, targets, locals_, frames):
        """targets: [(name, object, bone name or None)]; locals_: each target's
        point in its own space (a model's centre) or None (its origin)."""
        self.objects = view_layer.objects
        index = {ob.as_pointer(): i for i, ob in enumerate(self.objects)}
        # Every object's world matrix, frame after frame, until the targets'
        # are picked out (pick), many frames at once.
        at_once = max(1, min(frames, MATRICES_AT_ONCE // max(len(index), 1)))
        self.read_matrices = np.empty((at_once, len(index), 16), np.float32)
        self.unpicked = 0  # frames read since the last pick
        # A target at its origin keeps its matrix's translation; one carried by
        # its matrix (a bone's head, a model's centre) the whole matrix.
        at_origin = [bone is None and local is None for (_, _, bone), local in
                     zip(targets, locals_)]
        self.origins = [k for k, yes in enumerate(at_origin) if yes]
        self.carried = [k for k, yes in enumerate(at_origin) if not yes]
        row = [index[ob.as_pointer()] for _, ob, _ in targets]
        self.origin_rows = np.array([row[k] for k in self.origins], np.intp)
        self.carried_rows = np.array([row[k] for k in self.carried], np.intp)
        self.translations = np.empty((frames, len(self.origins), 3), np.float32)
        self.matrices = np.empty((frames, len(self.carried), 16), np.float32)
        self.local = np.empty((frames, len(self.carried), 3), np.float32)
        bones = {}  # armature: [(carried slot, bone index)]
        for slot, k in enumerate(self.carried):
            _, ob, bone = targets[k]
            if bone is None:
                self.local[:, slot] = tuple(locals_[k])
            else:
                bones.setdefault(ob, []).append((slot, ob.pose.bones.find(bone)))
        # armature, its bones' heads, the carried slots of its targets, their bones
        self.armatures = [(ob, np.empty((len(ob.pose.bones), 3), np.float32),
                           np.array([s for s, _ in found], np.intp),
                           np.array([b for _, b in found], np.intp))
                          for ob, found in bones.items()]
        self.frame = 0

    def read(self):
        """The points of the frame Blender is at."""
        self.objects.foreach_get("matrix_world", self.read_matrices[self.unpicked].ravel())
        for ob, heads, slots, bones in self.armatures:
            ob.pose.bones.foreach_get("head", heads.ravel())
            self.local[self.frame, slots] = heads[bones]
        self.frame += 1
        self.unpicked += 1
        if self.unpicked == len(self.read_matrices):
            self.pick()

    def pick(self):
        """The targets' matrices (their translations, for those at their origin)
        out of every object's, for the frames read since the last pick."""
        read, first = self.read_matrices[:self.unpicked], self.frame - self.unpicked
        self.translations[first:self.frame] = read[:, self.origin_rows, 12:15]
        self.matrices[first:self.frame] = read[:, self.carried_rows]
        self.unpicked = 0

    def in_camera(self, to_camera):
        """Every target's point through each frame's map (mathutils matrices):
        [targets, frames, 3], single precision, every value finite."""
        self.pick()
        at = np.empty((self.frame, len(self.origins) + len(self.carried), 3), np.float32)
        at[:, self.origins] = self.translations
        # foreach_get gives a matrix column by column; transform takes rows.
        rows = self.matrices.reshape(self.matrices.shape[:2] + (4, 4)).transpose(0, 1, 3, 2)
        at[:, self.carried] = transform(rows, self.local)
        # Element by element: numpy takes a Matrix row by row far more slowly.
        maps = np.array([v for m in to_camera for row in m for v in row], np.float32)
        maps = maps.reshape(-1, 1, 4, 4)
        points = transform(maps, at).transpose(1, 0, 2)
        if not np.isfinite(points).all():
            raise ExportError("The shot holds a value that is not a number (a target at infinity?)")
        return points
