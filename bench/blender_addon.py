# The Blender add-on against a pure-Python loop in the same Blender: 1,000
# frames x 50 moving targets, each way nine times, alternately.
#   blender -b --factory-startup --python bench/blender_addon.py -- build/bin/tqhost
# The loop is what a user would write by hand: one frame_set a frame, then
# world_to_camera_view for every target. The add-on's run is the whole
# export: the bake, the scene file, tqhost writing 50 tracks at decimals 3,
# and the checks of what it wrote. Goal: the add-on at least 2x faster.
# Also timed: frame_set alone, which both need; and each run's CPU time,
# tqhost's included (steadier than the wall clock on a busy machine).
import math, os, resource, shutil, statistics, sys, time
import bpy
from bpy_extras.object_utils import world_to_camera_view

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)) + "/../testing")
from blender_setup import enable_addon

GOAL = 2.0  # the loop's time over the add-on's, at least
FRAMES, TARGETS, ROUNDS = 1000, 50, 9
TMP, TQHOST, _ = enable_addon("tqmotion-bench-")

scene = bpy.data.scenes.new("Bench")
bpy.context.window.scene = scene
scene.frame_start, scene.frame_end = 1, FRAMES
scene.render.resolution_x, scene.render.resolution_y = 1920, 1080
cam = bpy.data.objects.new("Cam", bpy.data.cameras.new("Cam"))
scene.collection.objects.link(cam)
scene.camera = cam
for frame, at, turn in ((1, (0, -30, 4), (1.45, 0, 0)), (FRAMES, (8, -25, 6), (1.4, 0, 0.3))):
    cam.location, cam.rotation_euler = at, turn
    cam.keyframe_insert("location", frame=frame)
    cam.keyframe_insert("rotation_euler", frame=frame)
targets = []
for i in range(TARGETS):
    ob = bpy.data.objects.new(f"T{i:02}", None)
    scene.collection.objects.link(ob)
    for k, frame in enumerate(range(1, FRAMES + 1, 100)):
        ob.location = (math.sin(i + k) * 6, math.cos(i * 3 + k) * 4, math.sin(i * k) * 3)
        ob.keyframe_insert("location", frame=frame)
    targets.append(ob)
w, h = scene.render.resolution_x, scene.render.resolution_y


def python_loop():
    out = [[] for _ in targets]
    for frame in range(1, FRAMES + 1):
        scene.frame_set(frame)
        for track, ob in zip(out, targets):
            v = world_to_camera_view(scene, cam, ob.matrix_world.translation)
            track.append((v.x * w, v.y * h))
    return out


def addon():
    result = bpy.ops.tqmotion.export_tracks(directory=TMP + "/tracks", decimals=3,
                                            targets=",".join(ob.name for ob in targets))
    assert result == {"FINISHED"}, result


def frames_only():
    """What both need: one frame_set a frame."""
    for frame in range(1, FRAMES + 1):
        scene.frame_set(frame)


def cpu():
    """The CPU time of Blender and of the programs it ran (tqhost), to the
    microsecond (os.times counts in hundredths)."""
    return sum(u.ru_utime + u.ru_stime for u in map(resource.getrusage, (
        resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN)))


times = {"loop": [], "add-on": [], "frame_set alone": []}
cpus = {name: [] for name in times}
for _ in range(ROUNDS):
    for name, run in (("loop", python_loop), ("add-on", addon), ("frame_set alone", frames_only)):
        t, c = time.perf_counter(), cpu()
        run()
        times[name].append(time.perf_counter() - t)
        cpus[name].append(cpu() - c)
assert len(os.listdir(TMP + "/tracks")) == TARGETS
shutil.rmtree(TMP)
for name, ts in times.items():
    print(f"{name:15} best {min(ts):.3f} s, median {statistics.median(ts):.3f} s, "
          f"CPU best {min(cpus[name]):.3f} s ({FRAMES} frames x {TARGETS} targets)")
ratio = min(times["loop"]) / min(times["add-on"])
print(f"add-on {ratio:.2f}x faster than the loop (goal {GOAL}x): "
      + ("met" if ratio >= GOAL else "MISSED")
      + f"; in CPU time {min(cpus['loop']) / min(cpus['add-on']):.2f}x")
sys.exit(0 if ratio >= GOAL else 1)
