# An export started in a real Blender window and cancelled with Esc typed
# into it, for test_addon.py, which runs it on an Xvfb display:
#   DISPLAY=:N blender --factory-startup --python esc_in_window.py -- TQHOST FOLDER PIDFILE RESULT
# TQHOST writes its process id into PIDFILE and waits; once it has, xdotool
# focuses Blender's window and presses Esc (a key event from the X server,
# as a person's). RESULT gets, as JSON: what the operator answered and
# reported, the Info editor's log and whether TQHOST's process is gone.
import json, os, shutil, subprocess, sys, time
import bpy

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)) + "/../../testing")
from blender_setup import enable_addon

TMP, TQHOST, _ = enable_addon("tqmotion-window-")
FOLDER, PIDFILE, RESULT = sys.argv[sys.argv.index("--") + 2:][:3]
DEADLINE = time.monotonic() + 60  # s, for every step together
operator = sys.modules["tqmotion"].TQMOTION_OT_export_tracks
said, result = [], {"answers": [], "info": "", "stopped": False, "steps": []}
answer = operator.answer


def answering(self, answered, reports):
    """The operator's answer, kept when it ends the operator."""
    if answered != {"PASS_THROUGH"}:
        said.append((sorted(answered), reports))
    return answer(self, answered, reports)


operator.answer = answering


def step():
    """One step at each tick of Blender's timer, so that the window runs
    between them; a step that fails ends the run, saying why."""
    try:
        return next_step()
    except Exception as e:
        result["steps"].append(f"failed: {e!r}")
        finish()


def finish():
    with open(RESULT, "w") as f:
        json.dump(result, f)
    shutil.rmtree(TMP)
    bpy.ops.wm.quit_blender()


def next_step():
    win = bpy.context.window_manager.windows[0]
    view = next(a for a in win.screen.areas if a.type == "VIEW_3D")
    done = result["steps"]
    if time.monotonic() > DEADLINE:
        done.append("out of time")
    elif not done:
        with bpy.context.temp_override(window=win, area=view, region=view.regions[-1]):
            started = bpy.ops.tqmotion.export_tracks("INVOKE_DEFAULT", directory=FOLDER,
                                                     targets="Cube", pattern="old.txt")
        done.append(f"invoked: {sorted(started)}")
        return 0.05
    elif len(done) == 1 and not said:
        if os.path.exists(PIDFILE):
            result["pid"] = int(open(PIDFILE).read())
            subprocess.Popen(["xdotool", "search", "--sync", "--limit", "1", "--name", "Blender",
                              "windowfocus", "--sync", "key", "Escape"])
            done.append("Esc typed")
        return 0.05
    elif "answered" not in done:
        if said:
            result["answers"] = said
            result["stopped"] = "pid" in result and not os.path.exists(f"/proc/{result['pid']}")
            # The Info editor's log, through the clipboard (its copy operator).
            info = next(a for a in win.screen.areas if a.type != "VIEW_3D")
            info.type = "INFO"
            done.append("answered")
        return 0.05
    else:
        info = next(a for a in win.screen.areas if a.type == "INFO")
        region = next(r for r in info.regions if r.type == "WINDOW")
        with bpy.context.temp_override(window=win, area=info, region=region):
            bpy.ops.info.select_all(action="SELECT")
            bpy.ops.info.report_copy()
        result["info"] = bpy.context.window_manager.clipboard
    finish()
    return None


bpy.app.timers.register(step, first_interval=0.5)
