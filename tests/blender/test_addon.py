# The tqmotion add-on in a real Blender, headless:
#   blender -b --factory-startup --python-exit-code 1 --python test_addon.py -- TQHOST
# Every frame of every track is compared with Blender's own projection.
import ctypes, json, math, os, re, shutil, sys, tempfile
import bpy
from bpy_extras.object_utils import world_to_camera_view
from mathutils import Vector

TQHOST = sys.argv[sys.argv.index("--") + 1]
TMP = tempfile.mkdtemp(prefix="tqmotion-test-")
os.makedirs(TMP + "/scripts/addons")
os.symlink(os.path.abspath(os.path.dirname(__file__) + "/../../blender/tqmotion"),
           TMP + "/scripts/addons/tqmotion")
bpy.context.preferences.filepaths.script_directory = TMP + "/scripts"
bpy.utils.refresh_script_paths()
sys.dont_write_bytecode = True
bpy.ops.preferences.addon_enable(module="tqmotion")
PREFS = bpy.context.preferences.addons["tqmotion"].preferences
failures = []


def check(ok, what):
    print("ok   " + what[:100] if ok else "FAIL " + what)
    ok or failures.append(what)
check(os.path.realpath(sys.modules["tqmotion"].__file__).startswith(
    os.path.realpath(os.path.dirname(__file__) + "/../..")), "the add-on is the repository's")


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


half_away = lambda v: math.floor(v + 0.5) if v >= 0 else math.ceil(v - 0.5)


def compare(path, point, what):
    """Every line of a track against world_to_camera_view, origin bottom-left."""
    lines = open(path).read().splitlines() if os.path.exists(path) else []
    start, end = preview or (1, 48)
    w = scene.render.resolution_x * scene.render.resolution_percentage // 100
    h = scene.render.resolution_y * scene.render.resolution_percentage // 100
    exact, worst = 0, 0
    for i, line in enumerate(lines):
        scene.frame_set(start + i)
        v = world_to_camera_view(scene, scene.camera, point())
        got = [int(n) for n in line.split("\t")]
        d = max(abs(got[1] - half_away(v.x * w)), abs(got[2] - half_away(v.y * h)),
                9 * (got[0] != i))
        exact, worst = exact + (d == 0), max(worst, d)
    check(len(lines) == end - start + 1 and exact >= 0.99 * len(lines) and worst <= 1,
          f"{what}: {len(lines)} lines, {exact} exact, worst {worst} px")


safe = lambda name: re.sub(r"^[.-]", "_", re.sub(r"[/\x00-\x1f\x7f]", "_", name)) or "_"
PREFS.tqhost = TQHOST
# Shots: sensor fit, resolution, percentage, preview range.
for fit, rx, ry, pct, preview in (("AUTO", 1280, 720, 75, None), ("VERTICAL", 720, 1280, 50, None),
                                  ("AUTO", 600, 1000, 100, (5, 30))):
    cam.data.sensor_fit, cam.data.sensor_height = fit, 20
    scene.render.resolution_x, scene.render.resolution_y = rx, ry
    scene.render.resolution_percentage = pct
    scene.use_preview_range = preview is not None
    scene.frame_preview_start, scene.frame_preview_end = preview or (1, 2)
    shot = f"{fit} {rx}x{ry} {pct}%"
    out = f"{TMP}/{fit} {{v}}{rx}"  # braces of the folder's own
    bpy.ops.object.mode_set(mode="OBJECT")
    for ob in scene.objects:
        ob.select_set(ob in (cam, empty, kid, rig))  # the camera is left out
    result, said = run(directory=out, formats="nuke,ae,shake,3de,csv,json")
    check(result == {"FINISHED"} and f"3 tracks written to {out}" in said, f"{shot}: {said!r}")
    for ob in (empty, kid, rig):
        compare(f"{out}/{safe(ob.name)}.txt", lambda: ob.matrix_world.translation,
                f"{shot}: {ob.name}")
        check(all(os.path.getsize(f"{out}/{safe(ob.name)}{suffix}") > 0 for suffix in
                  (".nk.txt", ".ae.txt", ".shk.txt", ".3de.txt", ".csv", ".json")), "copies")
    nuke = open(f"{out}/{safe(kid.name)}.nk.txt").readline().split()
    copy = json.load(open(f"{out}/{safe(empty.name)}.json"))
    check(nuke[0] == str((preview or (1,))[0]) and copy["name"] == empty.name and
          ctypes.c_float(copy["fps"]).value == ctypes.c_float(24000 / 1001).value, f"{shot}: copies {nuke} {copy['fps']}")
    # The model centre: the mean of the face corners, carried by the parents.
    corners = [v for p in kid.data.polygons for v in p.vertices]
    centre = sum((kid.data.vertices[i].co for i in corners), Vector()) / len(corners)
    run(directory=out, targets=kid.name, mode="MODEL_CENTER", pattern="{target}-centre.txt")
    compare(f"{out}/{safe(kid.name)}-centre.txt", lambda: kid.matrix_world @ centre,
            f"{shot}: model centre")
    # Bones selected in pose mode, tracked at their heads.
    bpy.context.view_layer.objects.active = rig
    bpy.ops.object.mode_set(mode="POSE")
    for bone in rig.data.bones:
        bone.select = True
    result, said = run(directory=out, pattern="bone-{target}.txt")
    for pb in rig.pose.bones:
        compare(f"{out}/bone-{safe('Rig:' + pb.name)}.txt",
                lambda: rig.matrix_world @ pb.head, f"{shot}: bone {pb.name}")
bpy.ops.object.mode_set(mode="OBJECT")
scene.use_preview_range = False

# Settings kept with the scene; refusals and warnings as reports.
s = scene.tqmotion
s.directory, s.pattern, s.formats = TMP + "/kept", "{camera}+{target}.trk", {"csv"}
result, said = run(targets=f"Rig:tip, {empty.name}")
check(os.path.exists(f"{TMP}/kept/{safe(cam.name)}+{safe('Rig:tip')}.trk") and
      os.path.exists(f"{TMP}/kept/{safe(cam.name)}+{safe(empty.name)}.csv"), f"settings: {said}")
at_cam = bpy.data.objects.new("At camera", None)
scene.collection.objects.link(at_cam)
at_cam.parent = cam
open(TMP + "/file", "w").close()
twin = bpy.data.objects.new(safe(kid.name), None)
scene.collection.objects.link(twin)
scene.collection.objects.link(bpy.data.objects.new("tab\tname", None))
scene.collection.objects.link(bpy.data.objects.new("{mode}", None))  # a name, not a field
# (what is changed first, as (owner, property, value), targets, report kind, its text)
for change, targets, kind, text in (
        ([], "At camera", "Warning", "of 48 frames could not be projected: the target is at"),
        ([], "Nope", "Error", "No object or bone (Armature:Bone) named 'Nope'"),
        ([], "{mode}", "Info", f"1 track written to {TMP}/kept"),
        ([], "tab\tname", "Error", "The name 'tab\\tname' holds a control character"),
        ([], f"{kid.name},{twin.name}", "Error", f"'{kid.name}' and '{twin.name}' would both be"),
        ([(cam.data, "shift_y", 0.1)], "Rig", "Error", f"'{cam.name}' has a lens shift at frame 1"),
        ([(cam.data, "shift_y", 0), (scene, "frame_end", 10002), (scene, "frame_start", 10001)],
         "Rig",
         "Error", f"tqhost ({TQHOST}) exited with status 1: --end 10002: Please enter an integer "
         "between 0 and 10000."),
        ([(PREFS, "tqhost", "/bin/false")], "Rig", "Error",
         "tqhost (/bin/false) exited with status 1: no message"),
        ([(scene.tqmotion, "directory", TMP + "/made/new")], "Rig", "Error",
         "tqhost (/bin/false) exited with status 1: no message"),
        ([(scene.tqmotion, "directory", TMP + "/kept"), (PREFS, "tqhost", "/bin/true")], "Rig",
         "Error", "tqhost (/bin/true) exited with status 0"
         f" but did not write {TMP}/kept/{safe(cam.name)}+Rig.trk"),
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
bpy.ops.wm.save_as_mainfile(filepath=TMP + "/shot.blend")
bpy.ops.wm.open_mainfile(filepath=TMP + "/shot.blend")
check(bpy.data.scenes["Shot"].tqmotion.pattern == "{camera}+{target}.trk", "kept in the .blend")
print(f"{len(failures)} failed")
shutil.rmtree(TMP)
sys.exit(1 if failures else 0)
