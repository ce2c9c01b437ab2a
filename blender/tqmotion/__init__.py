"""tqmotion screen tracks for Blender.

Writes the scene's shot as a tqmotion scene file (.tqs.json) in a temporary
folder and runs `tqhost export` on it: one track file a target, each line
where the target lands in the camera's image at one frame.

The scene file holds world transforms baked as one key a frame, in the host's
frame (+Y up, a camera looking down -Z): Blender's (x, y, z) is the host's
(x, z, -y). Only the camera's and the target's own channels enter a track, so
no parent is written. The focal length is on the host's 35-unit film width.
"""

bl_info = {
    "name": "tqmotion screen tracks",
    "author": "tqmotion developers",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "3D Viewport > Sidebar > tqmotion; File > Export > Screen tracks (tqmotion)",
    "description": "Exports where objects and bones land in the camera's image, frame by frame",
    "category": "Import-Export",
}

import json
import math
import os
import re
import shutil
import subprocess
import tempfile

import bpy
import mathutils
from bpy.props import EnumProperty, PointerProperty, StringProperty

# tqhost's format name, the button's label, the end of the copy's file name.
FORMATS = (
    ("nuke", "Nuke", ".nk.txt"),
    ("ae", "AE", ".ae.txt"),
    ("shake", "Shake", ".shk.txt"),
    ("3de", "3DE", ".3de.txt"),
    ("csv", "CSV", ".csv"),
    ("json", "JSON", ".json"),
)
MODE_ITEMS = (
    ("ORIGIN", "Origin", "Track each target's origin (a bone's head)"),
    ("MODEL_CENTER", "Model centre",
     "Track the centre of each target's geometry: the mean of its face corners at the first "
     "frame, carried by the object's motion (targets without geometry: the origin)"),
)
MODE_FLAGS = {"ORIGIN": "origin", "MODEL_CENTER": "model-center"}
GEOMETRY_TYPES = {"MESH", "CURVE", "SURFACE", "FONT", "META"}
TQHOST_TIMEOUT = 600  # seconds


class ExportError(Exception):
    """A reason the export cannot go on, shown as an error report."""


# --- the host's frame -------------------------------------------------------

def host_vector(v):
    return [v[0], v[2], -v[1]]


def host_rotation(q, camera=False):
    """A Blender rotation (w, x, y, z) as the host's [x, y, z, w].

    An object's rotation R becomes C R C^-1 (C turns -90 degrees about X), whose
    vector part is C applied to Blender's; a camera keeps its own axes, which
    already look down -Z with Y up, so its rotation becomes C R alone."""
    w, x, y, z = q
    if not all(math.isfinite(c) for c in q):
        return [0.0, 0.0, 0.0, 1.0]
    if camera:
        s = math.sqrt(0.5)
        return [s * (x - w), s * (y + z), s * (z - y), s * (w + x)]
    return [x, z, -y, w]


def rotation_of(matrix):
    """The rotation in a matrix's 3x3 part, by Gram-Schmidt on its columns: a
    scale, shear or mirror is left in the rest, and the result turns with the
    matrix (rotation_of(R @ A) is R @ rotation_of(A))."""
    a = matrix.to_3x3()
    x = a.col[0].normalized()
    y = (a.col[1] - a.col[1].dot(x) * x).normalized()
    return mathutils.Matrix((x, y, x.cross(y))).transposed()


def image_size(render):
    """The output size in pixels, as Blender computes it (integer percentage)."""
    return (render.resolution_x * render.resolution_percentage // 100,
            render.resolution_y * render.resolution_percentage // 100)


def host_focal_length(cam, width, height):
    """The focal length on a 35-unit film width: 35 x lens / the width of the
    sensor that spans the image horizontally (Blender fits the sensor to the
    larger side under Auto, using the sensor width either way)."""
    fit = cam.sensor_fit
    sensor = cam.sensor_height if fit == "VERTICAL" else cam.sensor_width
    if fit == "AUTO":
        fit = "HORIZONTAL" if width >= height else "VERTICAL"
    horizontal = sensor if fit == "HORIZONTAL" else sensor * width / height
    return 35.0 * cam.lens / horizontal


def safe_for_file_name(name):
    """The name as tqhost puts it into {target}: kept as it is, but for what
    a file name cannot hold: '/' and control characters become '_', and so
    does a leading '.' or '-'."""
    safe = "".join("_" if c == "/" or ord(c) < 0x20 or ord(c) == 0x7F else c for c in name)
    if safe[:1] in (".", "-"):
        safe = "_" + safe[1:]
    return safe or "_"


def expand(pattern, fields):
    """The pattern as tqhost expands it: each field filled in, in one pass
    from left to right (a name that holds '{mode}' is not filled in again),
    and '{{' a '{' of the path itself."""
    field = re.compile("{(" + "|".join(map(re.escape, fields)) + ")}")
    fill = lambda m: safe_for_file_name(fields[m.group(1)])
    return "{".join(field.sub(fill, part) for part in pattern.split("{{"))


def copy_pattern(pattern, suffix):
    """The file pattern of a compositor copy: the track's with its extension
    replaced ({target}.txt gives {target}.nk.txt)."""
    root, ext = os.path.splitext(pattern)
    return (root if ext and "{" not in ext else pattern) + suffix


# --- the shot ---------------------------------------------------------------

def shot_range(scene):
    if scene.use_preview_range:
        return scene.frame_preview_start, scene.frame_preview_end
    return scene.frame_start, scene.frame_end


def frame_rate(render):
    # fps_base is single precision in Blender (1.001 reads 1.00100004673);
    # the rate meant has a few decimals.
    return render.fps / round(render.fps_base, 6)


def split_names(text, known):
    """Names from "A,B": a comma inside a name is kept when the parts joined
    name something known; spaces around a name are dropped unless they belong
    to it."""
    names, part = [], None
    for piece in text.split(","):
        part = piece if part is None else part + "," + piece
        for candidate in (part, part.strip()):
            if known(candidate):
                names.append(candidate)
                part = None
                break
    if part is not None and part.strip():
        names.append(part.strip())  # unknown: reported by the caller
    return names


def find_bone(scene, text):
    """(armature, bone name) for "Armature:Bone", either name may hold ':'."""
    for at in (i for i, c in enumerate(text) if c == ":"):
        ob = scene.objects.get(text[:at])
        if ob is not None and ob.type == "ARMATURE" and text[at + 1:] in ob.pose.bones:
            return ob, text[at + 1:]
    return None


def resolve_targets(context, text, camera):
    """[(name in the scene file, object, bone name or None)]."""
    scene = context.scene
    if text.strip():
        known = lambda n: n in scene.objects or find_bone(scene, n) is not None
        picked = []
        for name in split_names(text, known):
            if name in scene.objects:
                picked.append((name, scene.objects[name], None))
            elif find_bone(scene, name):
                picked.append((name,) + find_bone(scene, name))
            else:
                raise ExportError(f"No object or bone (Armature:Bone) named '{name}' in scene "
                                  f"'{scene.name}'")
    elif context.mode == "POSE":
        picked = [(f"{ob.name}:{pb.name}", ob, pb.name)
                  for ob in context.view_layer.objects if ob.mode == "POSE"
                  for pb in ob.pose.bones if pb.bone.select and not pb.bone.hide]
    else:
        picked = sorted(((ob.name, ob, None) for ob in context.view_layer.objects
                         if ob.select_get() and ob != camera), key=lambda t: t[0])
    unique = []
    for t in picked:
        if t[1].name not in context.view_layer.objects:
            raise ExportError(f"'{t[1].name}' is not in the view layer (an excluded collection?), "
                              "so Blender does not animate it")
        if t[1] == camera and t[2] is None:
            raise ExportError(f"'{camera.name}' is the scene camera; it cannot track itself")
        if t[0] in [u[0] for u in unique] + [camera.name if camera else None]:
            if any(u[1:] == t[1:] for u in unique):
                continue  # named twice
            raise ExportError(f"Two targets are named '{t[0]}'; rename one")
        unique.append(t)
    for name in [u[0] for u in unique] + [camera.name if camera else ""]:
        if any(ord(c) < 32 for c in name):
            raise ExportError(f"The name {name!r} holds a control character, which scene files "
                              "refuse; rename it")
    if not unique:
        raise ExportError("Nothing to track: select objects (or bones in pose mode), or name "
                          "the targets")
    return unique


def model_geometry(ob, depsgraph):
    """The host model of a target with geometry: its evaluated vertices, with
    the object's scale and shear folded in (the host turns a model's centre by
    the object's rotation alone), and patches whose corners are the faces'
    corners, so that the host's centre, the mean of the patch corners, is the
    mean of the face corners (a mesh without faces: of its vertices)."""
    ob_eval = ob.evaluated_get(depsgraph)
    mesh = ob_eval.to_mesh()
    try:
        world = ob.matrix_world
        stretch = rotation_of(world).transposed() @ world.to_3x3()
        points = [host_vector(stretch @ v.co) for v in mesh.vertices]
        corners = [i for p in mesh.polygons for i in p.vertices] or list(range(len(points)))
    finally:
        ob_eval.to_mesh_clear()
    # Four- and five-cornered patches hold every corner once; a count that
    # no sum of 4s and 5s reaches is taken four times (the mean stays).
    if len(corners) % 4 and len(corners) < 15:
        corners = corners * 4
    fives = len(corners) % 4
    cut = 5 * fives
    model = {"points": points}
    if corners:
        model["patches"] = [corners[i:i + 4] for i in range(cut, len(corners), 4)]
        model["patches5"] = [corners[i:i + 5] for i in range(0, cut, 5)]
    return model, stretch


def bake_shot(context, camera, targets, mode):
    """The scene file of the shot, and the warnings of its making."""
    scene = context.scene
    render = scene.render
    width, height = image_size(render)
    start, end = shot_range(scene)
    if render.pixel_aspect_x != render.pixel_aspect_y:
        raise ExportError("The pixel aspect is not 1:1 (Output Properties > Format); tracks are "
                          "made for square pixels")
    cam_keys = {"translate": [], "rotate": [], "focalLength": []}
    target_keys = [{"translate": [], "rotate": []} for _ in targets]
    models, stretches, warnings = {}, {}, []
    progress = context.window_manager
    progress.progress_begin(start, end)
    for frame in range(start, end + 1):
        progress.progress_update(frame)
        scene.frame_set(frame)
        cam = camera.data
        if cam.type != "PERSP":
            raise ExportError(f"The camera '{camera.name}' is not perspective ({cam.type.lower()})"
                              "; only a perspective camera gives screen tracks")
        if cam.shift_x != 0 or cam.shift_y != 0:
            raise ExportError(f"The camera '{camera.name}' has a lens shift at frame {frame}; "
                              "set Shift X and Y to 0 for screen tracks")
        world = camera.matrix_world
        cam_keys["translate"].append([frame, host_vector(world.translation)])
        cam_keys["rotate"].append([frame, host_rotation(rotation_of(world).to_quaternion(),
                                                        camera=True)])
        cam_keys["focalLength"].append([frame, host_focal_length(cam, width, height)])
        if frame == start and mode == "MODEL_CENTER":
            depsgraph = context.evaluated_depsgraph_get()
            for name, ob, bone in targets:
                if bone is None and ob.type in GEOMETRY_TYPES:
                    models[name], stretches[name] = model_geometry(ob, depsgraph)
        for (name, ob, bone), keys in zip(targets, target_keys):
            if bone is not None:
                keys["translate"].append([frame, host_vector(ob.matrix_world @
                                                              ob.pose.bones[bone].head)])
                continue
            world = ob.matrix_world
            rotation = rotation_of(world)
            keys["translate"].append([frame, host_vector(world.translation)])
            keys["rotate"].append([frame, host_rotation(rotation.to_quaternion())])
            if name in stretches and name not in warnings:
                stretch = rotation.transposed() @ world.to_3x3()
                if any(abs(a - b) > 1e-5 * max(1.0, abs(b)) for row, row0 in
                       zip(stretch, stretches[name]) for a, b in zip(row, row0)):
                    warnings.append(name)
    channels = lambda keys: {k: {"keys": v} for k, v in keys.items() if v}
    objects = [{"type": "camera", "name": camera.name, **channels(cam_keys),
                "output": {"width": width, "height": height, "startFrame": start,
                           "endFrame": end}}]
    kind = "model" if mode == "MODEL_CENTER" else "null"
    for (name, ob, bone), keys in zip(targets, target_keys):
        objects.append({"type": kind, "name": name, **channels(keys), **models.get(name, {})})
    warned = [f"The scale of '{n}' changes during the shot; its model centre is carried with "
              f"its scale at frame {start}" for n in warnings]
    return {"format": "tq-scene", "version": 1,
            "project": {"name": "Blender", "fps": frame_rate(render), "time": start},
            "chor": {"name": "Chor1", "time": start, "objects": objects}}, warned


# --- tqhost -----------------------------------------------------------------

def find_tqhost(context):
    prefs = context.preferences.addons.get(__name__)
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


def run_tqhost(tqhost, args):
    """(exit status, standard output, standard error) of tqhost; the arguments
    go as a list, never through a shell."""
    try:
        done = subprocess.run([tqhost] + args, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=TQHOST_TIMEOUT, cwd=os.path.dirname(args[1]))
    except subprocess.TimeoutExpired:
        raise ExportError(f"tqhost ({tqhost}) did not finish in {TQHOST_TIMEOUT} s; stopped")
    except OSError as e:
        raise ExportError(f"tqhost could not be run from '{tqhost}': {e.strerror or e}")
    text = lambda b: b.decode("utf-8", "replace")
    return done.returncode, text(done.stdout), text(done.stderr)


def export_tracks(context, directory, targets_text, mode, formats, pattern):
    """Exports the tracks; answers (summary, warnings) or raises ExportError."""
    scene = context.scene
    camera = scene.camera
    if camera is None:
        raise ExportError(f"Scene '{scene.name}' has no camera: set one in Scene Properties")
    if camera.type != "CAMERA":
        raise ExportError(f"The scene camera '{camera.name}' is not a camera object")
    directory = directory or "//"
    if directory.startswith("//") and not bpy.data.filepath:
        raise ExportError(f"The output folder '{directory}' is relative to the .blend file, "
                          "which is not saved yet: save it or choose a folder")
    directory = os.path.abspath(bpy.path.abspath(os.path.expanduser(directory)))
    if not pattern:
        raise ExportError("The file pattern is empty (for example {target}.txt)")
    unknown = [f for f in formats if f not in (n for n, _, _ in FORMATS)]
    if unknown:
        raise ExportError(f"Unknown format '{unknown[0]}'; the formats are " +
                          ", ".join(n for n, _, _ in FORMATS))
    targets = resolve_targets(context, targets_text, camera)
    tqhost = find_tqhost(context)

    # Every file the run writes, each once; their folders made.
    # A "{" of the folder's own name is not a field to tqhost: written "{{".
    track_pattern = os.path.join(directory.replace("{", "{{"), pattern)
    copies = [(n, copy_pattern(track_pattern, s)) for n, _, s in FORMATS if n in formats]
    written = {}
    made = []  # the folders this export made, each after its parent
    try:
        for name, _, _ in targets:
            fields = {"target": name, "camera": camera.name, "mode": MODE_FLAGS[mode], "group": ""}
            for path in [expand(track_pattern, fields)] + [expand(p, fields) for _, p in copies]:
                if path in written:
                    raise ExportError(f"'{written[path]}' and '{name}' would both be written to "
                                      f"{path}; rename one or put {{target}} in the pattern")
                written[path] = name
                make_folder(os.path.dirname(path), made)
        return write_tracks(context, camera, targets, mode, tqhost, track_pattern, copies,
                            written)
    except ExportError:
        # A failed export leaves no folder of its own behind (one holding a
        # file is kept).
        for folder in reversed(made):
            try:
                os.rmdir(folder)
            except OSError:
                pass
        raise


def make_folder(folder, made):
    """Makes folder and the folders above it that are missing, noting each in made."""
    missing = []
    while folder and not os.path.isdir(folder) and folder not in missing:
        missing.append(folder)
        folder = os.path.dirname(folder)
    for f in reversed(missing):
        try:
            os.mkdir(f)
        except FileExistsError:
            if not os.path.isdir(f):
                raise ExportError(f"The folder {missing[0]} cannot be made: Not a directory")
            continue
        except OSError as e:
            raise ExportError(f"The folder {missing[0]} cannot be made: {e.strerror or e}")
        made.append(f)


def write_tracks(context, camera, targets, mode, tqhost, track_pattern, copies, written):
    """Bakes the shot and runs tqhost on it; answers (summary, warnings)."""
    scene = context.scene
    start, end = shot_range(scene)
    width, height = image_size(scene.render)
    saved = scene.frame_current, scene.frame_subframe
    folder = tempfile.mkdtemp(prefix="tqmotion-")
    try:
        shot, warnings = bake_shot(context, camera, targets, mode)
        scene_file = os.path.join(folder, "shot.tqs.json")
        with open(scene_file, "w", encoding="utf-8") as f:
            json.dump(shot, f, ensure_ascii=False, allow_nan=False)
        args = ["export", scene_file, "--camera=" + camera.name, "--mode=" + MODE_FLAGS[mode],
                f"--start={start}", f"--end={end}", f"--width={width}", f"--height={height}",
                "--output=" + track_pattern]
        args += ["--target=" + name for name, _, _ in targets]
        args += [f"--also={n}:{p}" for n, p in copies]
        status, out, err = run_tqhost(tqhost, args)
    except ValueError as e:
        raise ExportError(f"The shot holds a value that is not a number ({e})")
    finally:
        context.window_manager.progress_end()
        shutil.rmtree(folder, ignore_errors=True)
        scene.frame_set(saved[0], subframe=saved[1])
    if out:
        print("tqmotion: " + out.rstrip().replace("\n", "\ntqmotion: "))
    lines = [ln[len("tqhost: "):] if ln.startswith("tqhost: ") else ln
             for ln in err.splitlines() if ln.strip()]
    if status != 0:
        why = "; ".join(lines) or out.strip() or "no message"
        how = f"was ended by signal {-status}" if status < 0 else f"exited with status {status}"
        raise ExportError(f"tqhost ({tqhost}) {how}: {why}")
    missing = [path for path in written if not os.path.exists(path)]
    if missing:
        raise ExportError(f"tqhost ({tqhost}) exited with status 0 but did not write {missing[0]}")
    warnings += [ln.replace("warning: ", "", 1) for ln in lines if "warning" in ln]
    if width % 2 or height % 2:
        warnings.append(f"The image is {width} x {height}: the export halves an odd size in "
                        "whole pixels, so its tracks are half a pixel off Blender's centre")
    where = os.path.commonpath(list(written)) if len(written) > 1 else os.path.dirname(
        next(iter(written)))
    n = len(targets)
    summary = f"{n} track{'s' if n != 1 else ''} written to {where}"
    if copies:
        summary += f" (with {', '.join(c for c, _ in copies)} copies)"
    return summary, warnings


# --- Blender's side -----------------------------------------------------------

class TQMOTION_AP_preferences(bpy.types.AddonPreferences):
    bl_idname = __name__

    tqhost: StringProperty(
        name="tqhost", subtype="FILE_PATH",
        description="The tqhost program that writes the tracks; empty: tqhost on PATH")

    def draw(self, context):
        self.layout.prop(self, "tqhost")
        if not self.tqhost:
            found = shutil.which("tqhost")
            self.layout.label(text=f"On PATH: {found}" if found else "tqhost is not on PATH",
                              icon="NONE" if found else "ERROR")


def format_items():
    return [(n, label, f"Also write a copy in tqhost's {n} format, {{target}}{suffix}")
            for n, label, suffix in FORMATS]


class TQMOTION_PG_settings(bpy.types.PropertyGroup):
    """The export's settings, kept with the scene in the .blend."""
    directory: StringProperty(name="Folder", subtype="DIR_PATH", default="//tracks/",
                              description="The folder the tracks are written to")
    pattern: StringProperty(name="File", default="{target}.txt",
                            description="Each track's file name; {target}, {camera} and {mode} "
                                        "are filled in")
    mode: EnumProperty(name="Mode", items=MODE_ITEMS, default="ORIGIN")
    formats: EnumProperty(name="Copies", items=format_items(), options={"ENUM_FLAG"}, default=set(),
                          description="Copies in compositors' formats beside each track")


class TQMOTION_OT_export_tracks(bpy.types.Operator):
    """Export the screen tracks of the selected objects (or bones) through the scene camera"""
    bl_idname = "tqmotion.export_tracks"
    bl_label = "Export tracks"
    bl_options = {"REGISTER"}

    directory: StringProperty(name="Folder", subtype="DIR_PATH",
                              description="Default: the scene's tqmotion folder")
    targets: StringProperty(name="Targets", description="Objects and Armature:Bone names, comma "
                                                        "separated; empty: the selection")
    mode: EnumProperty(name="Mode", items=MODE_ITEMS, default="ORIGIN")
    formats: StringProperty(name="Copies", description="Compositor copies, comma separated: "
                                                       + ", ".join(n for n, _, _ in FORMATS))
    pattern: StringProperty(name="File", default="{target}.txt")
    filter_folder: bpy.props.BoolProperty(default=True, options={"HIDDEN"})

    def invoke(self, context, event):
        settings = context.scene.tqmotion
        for name in ("mode", "pattern"):
            if not self.properties.is_property_set(name):
                setattr(self, name, getattr(settings, name))
        if not self.properties.is_property_set("directory"):
            relative = settings.directory.startswith("//") and not bpy.data.filepath
            self.directory = "" if relative else bpy.path.abspath(settings.directory)
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def draw(self, context):
        for name in ("targets", "mode", "pattern"):
            self.layout.prop(self, name)
        self.layout.label(text="Compositor copies:")
        grid = self.layout.grid_flow(columns=3, even_columns=True, align=True)
        grid.prop(context.scene.tqmotion, "formats", expand=True)

    def execute(self, context):
        settings = context.scene.tqmotion
        value = lambda name: (getattr(self, name) if self.properties.is_property_set(name)
                              else getattr(settings, name))
        if self.properties.is_property_set("formats") and not self.options.is_invoke:
            formats = [f.strip() for f in self.formats.split(",") if f.strip()]
        else:  # File > Export edits the scene's copies in its side bar
            formats = [n for n, _, _ in FORMATS if n in settings.formats]
        directory, mode, pattern = value("directory"), value("mode"), value("pattern")
        if self.options.is_invoke:  # from File > Export: remembered for the next time
            settings.directory, settings.mode, settings.pattern = directory, mode, pattern
        try:
            summary, warnings = export_tracks(context, directory, self.targets, mode, formats,
                                              pattern)
        except ExportError as e:
            self.report({"ERROR"}, str(e))
            return {"CANCELLED"}
        self.report({"INFO"}, summary)
        for warning in warnings:
            self.report({"WARNING"}, warning)
        return {"FINISHED"}


class VIEW3D_PT_tqmotion(bpy.types.Panel):
    bl_label = "Screen tracks"
    bl_space_type = "VIEW_3D"
    bl_region_type = "UI"
    bl_category = "tqmotion"

    def draw(self, context):
        scene, layout = context.scene, self.layout
        settings = scene.tqmotion
        width, height = image_size(scene.render)
        start, end = shot_range(scene)
        box = layout.box().column(align=True)
        box.label(text=scene.camera.name if scene.camera else "No scene camera",
                  icon="CAMERA_DATA" if scene.camera else "ERROR")
        box.label(text=f"{start}-{end} at {frame_rate(scene.render):.6g} fps", icon="TIME")
        box.label(text=f"{width} x {height} px", icon="IMAGE_DATA")
        try:
            find_tqhost(context)
        except ExportError:
            box.label(text="tqhost not found: see the add-on's preferences", icon="ERROR")
        try:
            targets, problem = resolve_targets(context, "", scene.camera), None
        except ExportError as e:
            targets, problem = [], str(e)
        col = layout.column(align=True)
        col.label(text=f"Targets: {len(targets)} selected" if targets else problem,
                  icon="NONE" if targets else "INFO")
        icons = bpy.types.UILayout.bl_rna.functions["label"].parameters["icon"].enum_items.keys()
        for name, ob, bone in targets[:6]:
            icon = "BONE_DATA" if bone else "OUTLINER_OB_" + ob.type
            col.label(text=bone or name, icon=icon if icon in icons else "OBJECT_DATA")
        if len(targets) > 6:
            col.label(text=f"and {len(targets) - 6} more")
        layout.prop(settings, "mode", expand=True)
        layout.prop(settings, "directory")
        layout.prop(settings, "pattern")
        layout.label(text="Compositor copies:")
        grid = layout.grid_flow(columns=3, even_columns=True, align=True)
        grid.prop(settings, "formats", expand=True)
        row = layout.row()
        row.scale_y = 1.4
        row.operator_context = "EXEC_DEFAULT"
        row.enabled = bool(targets) and scene.camera is not None
        row.operator(TQMOTION_OT_export_tracks.bl_idname, icon="EXPORT")


def menu_export(self, context):
    self.layout.operator_context = "INVOKE_DEFAULT"
    self.layout.operator(TQMOTION_OT_export_tracks.bl_idname, text="Screen tracks (tqmotion)")


CLASSES = (TQMOTION_AP_preferences, TQMOTION_PG_settings, TQMOTION_OT_export_tracks,
           VIEW3D_PT_tqmotion)


def register():
    for cls in CLASSES:
        bpy.utils.register_class(cls)
    bpy.types.Scene.tqmotion = PointerProperty(type=TQMOTION_PG_settings)
    bpy.types.TOPBAR_MT_file_export.append(menu_export)


def unregister():
    bpy.types.TOPBAR_MT_file_export.remove(menu_export)
    del bpy.types.Scene.tqmotion
    for cls in reversed(CLASSES):
        bpy.utils.unregister_class(cls)
