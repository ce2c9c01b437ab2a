"""The repository's tqmotion add-on enabled in the Blender running this script
(headless, --factory-startup), for the add-on's test and its benchmark:

    sys.dont_write_bytecode = True  # nothing written into the repository
    sys.path.insert(0, REPOSITORY + "/testing")
    from blender_setup import enable_addon
"""
import os
import sys
import tempfile

import bpy

ADDON = os.path.realpath(os.path.dirname(__file__) + "/../blender/tqmotion")


def enable_addon(prefix):
    """A fresh folder whose scripts/addons links the add-on, made Blender's
    script folder, and the add-on enabled from it, set to run the tqhost named
    after "--" on Blender's command line: (the folder, tqhost's absolute path,
    the add-on's preferences)."""
    tqhost = os.path.abspath(sys.argv[sys.argv.index("--") + 1])
    folder = tempfile.mkdtemp(prefix=prefix)
    os.makedirs(folder + "/scripts/addons")
    os.symlink(ADDON, folder + "/scripts/addons/tqmotion")
    bpy.context.preferences.filepaths.script_directory = folder + "/scripts"
    bpy.utils.refresh_script_paths()
    sys.dont_write_bytecode = True
    bpy.ops.preferences.addon_enable(module="tqmotion")
    prefs = bpy.context.preferences.addons["tqmotion"].preferences
    prefs.tqhost = tqhost
    return folder, tqhost, prefs
