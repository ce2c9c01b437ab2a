# The tqmotion add-on in a real Blender, headless:
#   blender -b --factory-startup --python-exit-code 1 --python test_addon.py -- TQHOST
# Every frame of every track is compared with Blender's own projection.
import ctypes, json, math, os, random, select, shutil, subprocess, sys, tempfile, time
import bpy
import numpy as np
from bpy_extras.object_utils import world_to_camera_view
from mathutils import Matrix, Vector

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)) + "/../../testing")
from blender_setup import enable_addon

TMP, TQHOST, PREFS = enable_addon("tqmotion-test-")
failures = []


def check(ok, what):
    print("ok   " + what[:100] if ok else "FAIL " + what)
    ok or failures.append(what)
check(os.path.realpath(sys.modules["tqmotion"].__file__).startswith(
    os.path.realpath(os.path.dirname(__file__) + "/../..")), "the add-on is the repository's")
# Points carried in bulk as mathutils carries each (Matrix @ Vector), to the bit.
random.seed(1)
draw = lambda n: [random.uniform(-9, 9) * 10.0 ** random.randint(-4, 4) for _ in range(n)]
mats = [Matrix([draw(4) for _ in "xyzw"]) for _ in range(500)]
vecs = [Vector(draw(3)) for _ in mats]
got = sys.modules["tqmotion"].points.transform(np.array(mats, np.float32),
                                               np.array(vecs, np.float32))
check(got.tolist() == [list(m @ v) for m, v in zip(mats, vecs)], "bulk points as mathutils'")
# Keys written in bulk as '%d' and '%.9g' write each: single-precision bit
# patterns, and the edges of its layouts, a tie (1048576.125), a subnormal,
# values whose 9th digit double precision rounds the wrong way (3.929086285e32).
bits = np.array([random.getrandbits(32) for _ in range(31000)], np.uint32).view(np.float32)
edges = [0, -0.0, 1e-45, -3.4028235e38, 1048576.125, 1e-4, 9.9999997e-05, 1e-5, 0.001, 1,
         10, 1e8, 123456789, 999999936, 1e9, -0.5, 2.5e-7, 1.17549435e-38, 33554432, 0.1,
         3.929086285e+32, -3.101910225e+29, 6.205944775e-14, 0.25, -7.5e-6, 4096.5]
values = np.concatenate((bits[np.isfinite(bits)][:29854], np.array(edges, np.float32)))
values = values.reshape(2, -1, 3)
frames = range(-7, values.shape[1] - 7)
check(sys.modules["tqmotion"].digits.keys_texts(frames, values) == [
    ("[" + ",".join("[%d,[%.9g,%.9g,%.9g]]" % (f, *v) for f, v in zip(frames, track)) +
     "]").encode() for track in values.tolist()], "keys written as %.9g writes them")


def run(**kw):
    """The operator's result and what it reported (Blender prints reports)."""
    libc = ctypes.CDLL(None)
    with tempfile.TemporaryFile(mode="w+") as f:
        sys.stdout.flush(), libc.fflush(None)
        saved = os.dup(1)
        os.dup2(f.fileno(), 1)
        try:
            result = bpy.ops.tqmotion.export_tracks(**kw)
        except RuntimeError:
            result = {"ERROR"}
        finally:
            libc.fflush(None), os.dup2(saved, 1), os.close(saved)
        f.seek(0)
        return result, f.read()


def key(owner, path, frames_values):
    for frame, value in frames_values:
        setattr(owner, path, value)
        owner.keyframe_insert(path, frame=frame)


# A shot with odd names: a camera moving, turning and zooming, an animated
# empty, a mesh under a rotated, scaled, turning parent, an animated armature.
scene = bpy.data.scenes.new("Shot")
bpy.context.window.scene = scene
scene.render.fps, scene.render.fps_base = 24, 1.001
scene.frame_start, scene.frame_end = 1, 48
new = lambda name, data=None: scene.collection.objects.link(
    bpy.data.objects.new(name, data)) or bpy.data.objects[name]
cam = new('Cam "1"', bpy.data.cameras.new("Lens"))
scene.camera = cam
key(cam, "location", [(1, (0, -12, 2)), (48, (5, -9, 3.5))])
key(cam, "rotation_euler", [(1, (math.radians(82), 0, 0)), (48, (1.2, 0.15, 0.45))])
key(cam.data, "lens", [(1, 28), (30, 60), (48, 45)])
empty = new("Empty $(touch x) ä")
key(empty, "location", [(1, (-2, 0, 0)), (20, (1, 2, 1)), (48, (3, -1, 2))])
parent = new("Parent")
parent.scale = (2, 0.7, 1.5)
key(parent, "rotation_euler", [(1, (0.3, 0, 0.5)), (48, (0.5, -0.4, 1.8))])
verts = [(x, y, z) for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)] + [(0, -2, 3)]
faces = [(0, 1, 3, 2), (4, 6, 7, 5), (0, 4, 5, 1), (2, 3, 7, 6), (0, 2, 6, 4), (1, 5, 7, 3),
         (1, 3, 8)]
mesh = bpy.data.meshes.new("Box")
mesh.from_pydata(verts, [], faces)
kid = new("Kid/Box 'q'", mesh)
kid.parent, kid.location, kid.rotation_euler = parent, (1, 0.5, 0.2), (0.2, 0.9, 0)
key(kid, "scale", [(1, (1, 1, 1)), (48, (1.5, 0.8, 1.2))])
rig = new("Rig", bpy.data.armatures.new("Rig"))
key(rig, "location", [(1, (0, 2, 0)), (48, (-1, 3, 0.5))])
bpy.context.view_layer.objects.active = rig
bpy.ops.object.mode_set(mode="EDIT")
for name, head, parent_name in (("arm:ä", (0, 0, 0), None), ("tip", (0, 0, 1.5), "arm:ä")):
    bone = rig.data.edit_bones.new(name)
    bone.head, bone.tail = head, (head[0], head[1], head[2] + 1.5)
    bone.parent = rig.data.edit_bones.get(parent_name or "")
bpy.ops.object.mode_set(mode="OBJECT")
arm = rig.pose.bones["arm:ä"]
arm.rotation_mode = "XYZ"
key(arm, "rotation_euler", [(1, (0, 0, 0)), (48, (1.1, 0, 0.7))])


# Decimals 3 round by at most 0.0005 px; the single-precision camera-space
# point and focal length the host reads move a pixel by about 1e-7 of its
# distance from the centre, under 0.001 px in these images.
TOLERANCE = 0.01  # px


def written(said, folder):
    """{target: [track, copies...]} from tqhost's own plan, which the add-on prints."""
    plans = [json.loads(ln[len("tqmotion: plan "):]) for ln in said.splitlines()
             if ln.startswith("tqmotion: plan ")]
    return {run["target"]: [os.path.join(folder, f) for f in
                            [run["output"]] + [c["path"] for c in run["copies"]]]
            for plan in plans[-1:] for run in plan["runs"]}


def on_clip(x, y, w, h):
    """Where the Movie Distortion node puts pixel x, y of the render: on the
    clip's pixels, y over its pixel aspect, Blender's lens model (y up)."""
    c, (wc, hc) = clip.tracking.camera, clip.size
    f, a, (px, py) = c.focal_length_pixels, c.pixel_aspect, getattr(c, PP)
    u, v = (x * wc / w - px) / f, (y * hc / h - py) / (f * a)
    k, p1, p2 = ((c.brown_k1, c.brown_k2, c.brown_k3, c.brown_k4), c.brown_p1, c.brown_p2) \
        if c.distortion_model == "BROWN" else ((c.k1, c.k2, c.k3, 0), 0, 0)
    r2 = u * u + v * v
    radial = 1 + k[0] * r2 + k[1] * r2 ** 2 + k[2] * r2 ** 3 + k[3] * r2 ** 4
    ud = u * radial + p1 * (r2 + 2 * u * u) + 2 * p2 * u * v
    vd = v * radial + p2 * (r2 + 2 * v * v) + 2 * p1 * u * v
    return (f * ud + px) * w / wc, (f * a * vd + py) * h / hc


def compare(files, name, point, what):
    """Every line of a track against world_to_camera_view, origin bottom-left."""
    path = files.get(name, [""])[0]
    lines = open(path).read().splitlines() if os.path.exists(path) else []
    start, end = (scene.frame_preview_start, scene.frame_preview_end) if \
        scene.use_preview_range else (scene.frame_start, scene.frame_end)
    w = scene.render.resolution_x * scene.render.resolution_percentage // 100
    h = scene.render.resolution_y * scene.render.resolution_percentage // 100
    worst = 0
    for i, line in enumerate(lines):
        scene.frame_set(start + i)
        v = world_to_camera_view(scene, scene.camera, point())
        x, y = on_clip(v.x * w, v.y * h, w, h) if scene.tqmotion.distort else (v.x * w, v.y * h)
        got = [float(n) for n in line.split("\t")]
        worst = max(worst, abs(got[1] - x), abs(got[2] - y), 9 * (got[0] != i))
    check(len(lines) == end - start + 1 and worst <= TOLERANCE,
          f"{what}: {len(lines)} lines, worst {worst:.4f} px")


class Keys:
    """The shot's keys moved in time: offset = 1000 plays frame 1 at 1001."""
    offset_now = 0

    @property
    def offset(self):
        return self.offset_now

    @offset.setter
    def offset(self, to):
        for fc in (fc for action in bpy.data.actions for fc in action.fcurves):
            for kp in fc.keyframe_points:
                for p in (kp.co, kp.handle_left, kp.handle_right):
                    p.x += to - self.offset_now
        self.offset_now = to


side = new("SideCam", bpy.data.cameras.new("Side"))
side.location, side.rotation_euler, side.data.lens = (9, -4, 1), (1.5, 0, 1.1), 35
key(side.data, "shift_x", [(25, -0.3), (48, 0.4)])  # a shift animated, unlike the other's
markers = [scene.timeline_markers.new(n, frame=f) for n, f in (("A", 1), ("B", 25))]
shear = new("Shear")
shear.scale, shear.rotation_euler = (2, 0.7, 1.5), (0.3, 0.2, 0.5)
r = scene.render
image = bpy.data.images.new("plate", 960, 540)
image.filepath_raw, image.file_format = TMP + "/plate.png", "PNG"
image.save()
scene.active_clip = clip = bpy.data.movieclips.load(TMP + "/plate.png")
lens = clip.tracking.camera
PP = "principal_point_pixels" if hasattr(lens, "principal_point_pixels") else "principal"


# Shots, each a change of the shot above, undone after it.
for shot, change in (
        ("auto 1280x720 75%", [(r, "resolution_x", 1280), (r, "resolution_y", 720),
                               (r, "resolution_percentage", 75)]),
        ("vertical 720x1280 50%", [(cam.data, "sensor_fit", "VERTICAL"),
                                   (cam.data, "sensor_height", 20), (r, "resolution_x", 720),
                                   (r, "resolution_y", 1280), (r, "resolution_percentage", 50)]),
        ("600x1000 preview 5-30", [(r, "resolution_x", 600), (r, "resolution_y", 1000),
                                   (scene, "use_preview_range", True),
                                   (scene, "frame_preview_start", 5),
                                   (scene, "frame_preview_end", 30)]),
        ("odd 1921x1081", [(r, "resolution_x", 1921), (r, "resolution_y", 1081)]),
        ("matrices picked every 3 frames", [(sys.modules["tqmotion"].points,
                                             "MATRICES_AT_ONCE", 40)]),
        ("two tqhost runs, from 2 targets", [(sys.modules["tqmotion"].job, "PARTS_FROM", 2)]),
        ("1920x1080 at 33%", [(r, "resolution_percentage", 33)]),
        ("25 fps", [(r, "fps", 25), (r, "fps_base", 1)]),
        ("30/1.001 fps", [(r, "fps", 30)]),
        ("60/1.001 fps", [(r, "fps", 60)]),
        ("from 1001", [(Keys(), "offset", 1000), (scene, "frame_end", 1048),
                       (scene, "frame_start", 1001)]),
        ("sheared camera", [(cam, "parent", shear)]),
        ("mirrored camera", [(cam, "scale", (-1, 1, 1))]),
        ("markers", [(markers[0], "camera", cam), (markers[1], "camera", side),
                     (scene, "camera", cam), (side.data, "shift_y", -0.2)]),
        ("shift 0.1,-0.5 horizontal", [(cam.data, "sensor_fit", "HORIZONTAL"),
                                       (cam.data, "shift_x", 0.1), (cam.data, "shift_y", -0.5)]),
        ("shift -0.5,0.3 vertical 720x1280", [
            (cam.data, "sensor_fit", "VERTICAL"), (cam.data, "shift_x", -0.5),
            (cam.data, "shift_y", 0.3), (r, "resolution_x", 720), (r, "resolution_y", 1280)]),
        ("pixel aspect 2, shift 0.3,0.1", [(r, "pixel_aspect_x", 2), (cam.data, "shift_x", 0.3),
                                          (cam.data, "shift_y", 0.1)]),
        ("pixel aspect 0.5 (auto fits vertical), shift -0.1,-0.4, 1921x1080", [
            (r, "pixel_aspect_y", 2), (cam.data, "shift_x", -0.1), (cam.data, "shift_y", -0.4),
            (r, "resolution_x", 1921)]),
        ("shift y 0.2 at 33%", [(cam.data, "shift_y", 0.2), (r, "resolution_percentage", 33)]),
        ("clip's polynomial lens", [
            (scene.tqmotion, "distort", True), (lens, "focal_length_pixels", 1100),
            (lens, PP, (500, 250)), (lens, "pixel_aspect", 1.5), (lens, "k1", -0.08),
            (lens, "k2", 0.02), (lens, "k3", -0.003), (cam.data, "shift_x", 0.2)]),
        ("clip's Brown lens at 1921x1081", [
            (scene.tqmotion, "distort", True), (lens, "distortion_model", "BROWN"),
            (lens, "brown_k1", 0.05), (lens, "brown_k2", -0.01), (lens, "brown_p1", 0.004),
            (lens, "brown_p2", -0.003), (r, "resolution_x", 1921), (r, "resolution_y", 1081)])):
    undo = [(owner, name, getattr(owner, name)) for owner, name, _ in change]
    for owner, name, value in change:
        setattr(owner, name, value)
    out = f"{TMP}/{shot} {{v}}"  # braces of the folder's own
    bpy.ops.object.mode_set(mode="OBJECT")
    for ob in scene.objects:
        ob.select_set(ob in (cam, empty, kid, rig))  # the camera is left out
    result, said = run(directory=out, formats="nuke,ae,shake,3de,csv,json")
    files = written(said, out)
    check(result == {"FINISHED"} and f"3 tracks written to {out}" in said, f"{shot}: {said!r}")
    for ob in (empty, kid, rig):
        compare(files, ob.name, lambda: ob.matrix_world.translation, f"{shot}: {ob.name}")
        check(len(files.get(ob.name, [])) == 7 and
              all(os.path.getsize(f) > 0 for f in files[ob.name]), f"{shot}: copies")
    start = scene.frame_preview_start if scene.use_preview_range else scene.frame_start
    nuke = open(files[kid.name][1]).readline().split()
    copy = json.load(open(files[empty.name][6]))
    check(nuke[0] == str(start) and copy["name"] == empty.name and ctypes.c_float(copy["fps"])
          .value == ctypes.c_float(r.fps / (1.001 if r.fps_base > 1 else 1)).value,
          f"{shot}: copies {nuke} {copy['fps']}")
    if shot == "markers":
        check(f"through {cam.name} 1-24, SideCam 25-48" in said, f"{shot}: cameras said")
    # The model centre: the mean of the face corners, carried by the parents.
    corners = [v for p in kid.data.polygons for v in p.vertices]
    centre = sum((kid.data.vertices[i].co for i in corners), Vector()) / len(corners)
    result, said = run(directory=out, targets=kid.name, mode="MODEL_CENTER",
                       pattern="{target}-centre.txt")
    compare(written(said, out), kid.name, lambda: kid.matrix_world @ centre,
            f"{shot}: model centre")
    # Bones selected in pose mode, tracked at their heads.
    bpy.context.view_layer.objects.active = rig
    bpy.ops.object.mode_set(mode="POSE")
    for bone in rig.data.bones:
        bone.select = True
    result, said = run(directory=out, pattern="bone-{target}.txt")
    for pb in rig.pose.bones:
        compare(written(said, out), "Rig:" + pb.name, lambda: rig.matrix_world @ pb.head,
                f"{shot}: bone {pb.name}")
    bpy.ops.object.mode_set(mode="OBJECT")
    for owner, name, value in reversed(undo):
        setattr(owner, name, value)

# Settings kept with the scene; refusals and warnings as reports.
s = scene.tqmotion
s.directory, s.pattern, s.formats = TMP + "/kept", "{camera}+{target}.trk", {"csv"}
result, said = run(targets=f"Rig:tip, {empty.name}")
kept = written(said, TMP + "/kept")
check([os.path.splitext(f)[1] for f in kept.get("Rig:tip", []) + kept.get(empty.name, [])] ==
      [".trk", ".csv"] * 2 and all(map(os.path.exists, sum(kept.values(), []))), f"settings: {said}")
old = "".join(f"{i}\t1.000\t2.000\n" for i in range(48))
for name in ("old", "Rig"):
    open(f"{TMP}/kept/{name}.txt", "w").write(old)  # tracks of an earlier run


def fake(body, name="old.txt", plan=f"exec '{TQHOST}' \"$@\""):
    """A program in tqhost's place: body, then the account of a track; plan for --plan."""
    path = f"{TMP}/fake{len(os.listdir(TMP))}"
    open(path, "w").write(f"#!/bin/sh\ncase \" $* \" in *\" --plan \"*) {plan}; exit;; "
                          f"esac\n{body}\necho '48 frames written to {name}'\n")
    os.chmod(path, 0o755)
    return path


at_cam = bpy.data.objects.new("At camera", None)
scene.collection.objects.link(at_cam)
at_cam.parent = cam
open(TMP + "/file", "w").close()
os.makedirs(f"{TMP}/kept/{empty.name}.txt")  # a folder where a track goes
scene.collection.objects.link(bpy.data.objects.new("tab\tname", None))
scene.collection.objects.link(bpy.data.objects.new("{mode}", None))  # a name, not a field
# (what is changed first, as (owner, property, value), targets, report kind, its text)
for change, targets, kind, text in (
        ([], "At camera", "Warning", "of 48 frames could not be projected: the target is at"),
        ([], "Nope", "Error", "No object or bone (Armature:Bone) named 'Nope'"),
        ([], "{mode}", "Info", f"1 track written to {TMP}/kept"),
        ([(s, "pattern", "{target}/track.txt")], "Rig", "Info", f"1 track written to {TMP}/kept/Rig"),
        ([], "tab\tname", "Error", "The name 'tab\\tname' holds a control character"),
        ([(s, "pattern", "{camera}.txt")], f"Rig, {empty.name}", "Error", "needs {target}"),
        ([(s, "distort", True), (lens, "distortion_model", "DIVISION")], "Rig", "Error",
         "The movie clip 'plate.png' has Blender's Division lens distortion, which tqhost does"),
        ([(lens, "distortion_model", "BROWN"), (lens, "brown_k4", 0.01)], "Rig", "Error",
         "has Blender's Brown with a K4 lens distortion, which tqhost does not implement"),
        ([(s, "distort", False), (scene, "frame_end", 10002), (scene, "frame_start", 10001)],
         "Rig",
         "Error", f"tqhost ({TQHOST}) exited with status 1: --end 10002: Please enter an integer "
         "between 0 and 10000."),
        ([(cam.data, "sensor_width", math.nan)], "Rig", "Error",
         f"The camera '{cam.name}' has a lens, sensor or shift that is not a number at frame 1"),
        ([(cam.data, "sensor_width", 36), (PREFS, "tqhost", "/bin/false")], "Rig", "Error",
         "tqhost (/bin/false) exited with status 1: no message"),
        ([(scene.tqmotion, "directory", TMP + "/made/new")], "Rig", "Error",
         "tqhost (/bin/false) exited with status 1: no message"),
        ([(scene.tqmotion, "directory", TMP + "/kept"), (PREFS, "tqhost", "/bin/true")], "Rig",
         "Error", "tqhost (/bin/true) exited with status 0 but did not say what it would write"),
        ([(s, "pattern", "old.txt"), (scene, "frame_start", 1), (scene, "frame_end", 48),
          (s, "formats", set()), (PREFS, "tqhost", fake(""))], "Rig", "Error",
         "but did not write old.txt, which it says it wrote"),
        ([(PREFS, "tqhost", fake("yes garbage | head -48 > old.txt"))], "Rig", "Error",
         "but wrote old.txt whose line 1 is not frame 0's: 'garbage'"),
        ([(s, "pattern", "held.txt"),
          (PREFS, "tqhost", fake(f"{TQHOST} \"$@\" >/dev/null; sleep 9 &", "held.txt"))], "Rig",
         "Warning",
         "tqhost finished, but a process it started still holds its output"),
        ([(PREFS, "tqhost", fake(f"exec '{TQHOST}' \"$@\"",
                                 plan=f"sleep 9 & exec '{TQHOST}' \"$@\""))],
         "Rig", "Warning", "tqhost finished, but a process it started still holds its output"),
        ([(PREFS, "tqhost", fake("", plan=f"'{TQHOST}' \"$@\" | sed 's/\"output\":/&0,\"x\":/'"))],
         "Rig", "Error", "status 0 but did not say what it would write (export --plan)"),
        ([(PREFS, "tqhost", fake("", plan="head -c 100000 /dev/zero | tr '\\0' '['"))], "Rig",
         "Error", "status 0 but did not say what it would write (export --plan)"),
        ([(PREFS, "tqhost", TQHOST), (s, "pattern", "{target}" * 14 + "/x.txt")], empty.name,
         "Error", f"The folder {TMP}/kept/{empty.name * 14} cannot be made: File name too long"),
        ([(s, "pattern", "{target}.txt")], f"Rig, {empty.name}", "Error",
         f"{TMP}/kept/{empty.name}.txt cannot be written: a folder is in its place; nothing was"),
        ([(sys.modules["tqmotion"].job, "PARTS_FROM", 2), (PREFS, "tqhost", fake(
            f"'{TQHOST}' \"$@\"; case \"$*\" in *=Empty*) echo junk > Rig.txt;; esac; exit"))],
         f"Rig, {empty.name}", "Error", "but wrote Rig.txt, which it did not account for"),
        ([(scene.tqmotion, "directory", TMP + "/file/x")], "Rig", "Error",
         f"The folder {TMP}/file/x cannot be made: Not a directory"),
        ([(PREFS, "tqhost", TMP + "/no tq$(x)")], "Rig", "Error",
         f"tqhost not found at '{TMP}/no tq$(x)'"),
        ([(scene, "camera", None)], "Rig", "Error", "Scene 'Shot' has no camera")):
    for owner, name, value in change:
        setattr(owner, name, value)
    result, said = run(targets=targets)
    check(any(ln.startswith(kind + ": ") and text in ln for ln in said.splitlines()) and
          (result == {"ERROR"}) == (kind == "Error"), f"{kind}: {text}: {said!r}")
check(not os.path.exists(TMP + "/made"), "a failed export leaves no folder it made")
check(all(open(f"{TMP}/kept/{n}.txt").read() == old for n in ("old", "Rig")),
      "a failed export leaves the earlier tracks as they were")

# Watched as from a window, each event handed on as the operator's modal()
# does: timer ticks until tqhost is done, or Esc, which stops tqhost and what
# it started and keeps nothing it began. "window": in a real Blender window
# on an Xvfb display, Esc typed into it.
scene.camera = cam
stuck = f"echo $$ > {TMP}/pid.new; mv {TMP}/pid.new {TMP}/pid; sleep 60"
hang = fake("echo x > old.txt; " + stuck)
watched, tqmotion = TMP + "/watched", sys.modules["tqmotion"]
# Its plan said once the shot's rate is changed after Export was pressed; it
# runs only on the rate the shot had then.
rerated = fake(f"grep -qF '\"fps\": {24 / 1.001!r}' \"$2\" && exec '{TQHOST}' \"$@\"; exit 3",
               plan=f"until [ -e {TMP}/go ]; do sleep 0.01; done; exec '{TQHOST}' \"$@\"")


def in_window(tqhost):
    """tests/blender/esc_in_window.py in a Blender of its own on an Xvfb
    display: (the operator's answer, its reports), whether tqhost had stopped
    when it answered, the Info editor's log."""
    result, (ready, tell) = TMP + "/window.json", os.pipe()
    try:  # Xvfb writes its display's number once it takes clients
        server = subprocess.Popen(["Xvfb", "-displayfd", str(tell), "-screen", "0", "1280x800x24",
                                   "-nolisten", "tcp"], pass_fds=[tell], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except OSError as e:
        return (set(), []), False, f"no Xvfb (scripts/setup.sh installs it): {e}"
    finally:
        os.close(tell)
    ran = None
    try:
        with os.fdopen(ready) as f:
            display = f.readline().strip() if select.select([f], [], [], 60)[0] else ""
        ran = subprocess.run([bpy.app.binary_path, "--factory-startup", "--python",
                              os.path.dirname(os.path.abspath(__file__)) + "/esc_in_window.py",
                              "--", tqhost, watched, TMP + "/pid", result],
                             stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             env=dict(os.environ, DISPLAY=":" + display, TMPDIR=TMP), timeout=120)
        said = json.load(open(result))
    except (OSError, ValueError, subprocess.TimeoutExpired) as e:
        return (set(), []), False, f"{e}; {ran and (ran.stdout + ran.stderr)[-500:]!r}"
    finally:
        server.terminate()
        server.wait()
    answered, reports = said["answers"][0] if said["answers"] else ([], [])
    return (set(answered), [tuple(r) for r in reports]), said["stopped"], said["info"] or str(
        said["steps"])  # the steps taken, when the log is empty (xdotool missing?)


def gone(pid):
    """Whether process pid has ended (one just killed given 10 s to end)."""
    try:
        fd = os.pidfd_open(pid)
    except ProcessLookupError:
        return True
    ended = select.select([fd], [], [], 10)[0]
    os.close(fd)
    return bool(ended)


for tqhost, esc, answer, level, text in (
        (hang, True, {"CANCELLED"}, "WARNING", "Export cancelled; no track was written"),
        (fake("", plan=stuck), True, {"CANCELLED"}, "WARNING", "Export cancelled; no track was"),
        (hang, "window", {"CANCELLED"}, "WARNING", "Export cancelled; no track was written"),
        (fake("yes garbage | head -48 > old.txt"), False, {"CANCELLED"}, "ERROR",
         "but wrote old.txt whose line 1 is not frame 0's: 'garbage'"),
        (fake(f"sleep 60 & echo $! > {TMP}/pid; yes garbage | head -48 > old.txt"), False,
         {"CANCELLED"}, "ERROR", "but wrote old.txt whose line 1 is not frame 0's: 'garbage'"),
        (TQHOST, False, {"FINISHED"}, "INFO", f"1 track written to {watched}; through"),
        (rerated, False, {"FINISHED"}, "INFO", f"1 track written to {watched}; through")):
    PREFS.tqhost = tqhost
    if os.path.exists(TMP + "/pid"):
        os.remove(TMP + "/pid")
    if esc == "window":
        got, ended, log = in_window(tqhost)
    else:
        job = tqmotion.worker.start_export(bpy.context, directory=watched, targets_text="Rig",
                                           mode="ORIGIN", formats=[], pattern="old.txt",
                                           decimals=3)
        watch, got = tqmotion.watch.Watch(bpy.context, job), ({"PASS_THROUGH"}, [])
        if tqhost == rerated:
            r.fps = 50
            open(TMP + "/go", "w").close()
        while got[0] == {"PASS_THROUGH"} and not (esc and os.path.exists(TMP + "/pid")):
            time.sleep(0.01)
            got = watch.event(bpy.context, "TIMER", "NOTHING")
        got = watch.event(bpy.context, "ESC", "PRESS") if esc else got
        ended, log = all(p.process.returncode is not None for p in job.parts), text
    if esc or os.path.exists(TMP + "/pid"):  # tqhost stopped with what it started
        ended = ended and os.path.exists(TMP + "/pid") and gone(int(open(TMP + "/pid").read()))
    check(got[0] == answer and any(lv == level and text in t for lv, t in got[1]) and
          os.path.exists(watched) == (answer == {"FINISHED"}) and ended and text in log,
          f"watched ({esc}): {text}: {got} {log!r}")
    if answer == {"FINISHED"}:
        compare({"Rig": [watched + "/old.txt"]}, "Rig", lambda: rig.matrix_world.translation,
                "watched: the track")
pattern = s.pattern
bpy.ops.wm.save_as_mainfile(filepath=TMP + "/shot.blend")
bpy.ops.wm.open_mainfile(filepath=TMP + "/shot.blend")
check(bpy.data.scenes["Shot"].tqmotion.pattern == pattern, "kept in the .blend")
print(f"{len(failures)} failed")
shutil.rmtree(TMP)
sys.exit(1 if failures else 0)
