"""The add-on's preferences and the export's settings kept with the scene."""

import shutil

import bpy
from bpy.props import BoolProperty, EnumProperty, IntProperty, StringProperty

from .common import DECIMALS_DEFAULT, FORMATS, MODE_ITEMS

DISTORT = dict(name="Distort to the clip's lens", default=False,
               description="Put each track on the plate as the active movie clip's lens shot it "
                           "(its tracking camera's distortion, principal point, focal length and "
                           "pixel aspect), where the Movie Distortion node puts the render")
DECIMALS = dict(name="Decimals", min=0, max=6, default=DECIMALS_DEFAULT,
                description="Digits after the point of every X and Y (0: whole pixels)")


class TQMOTION_AP_preferences(bpy.types.AddonPreferences):
    bl_idname = __package__

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
    return [(n, label, f"Also write a copy in tqhost's {n} format, named after the track's "
             "file (its extension replaced)") for n, label in FORMATS]


class TQMOTION_PG_settings(bpy.types.PropertyGroup):
    """The export's settings, kept with the scene in the .blend."""
    directory: StringProperty(name="Folder", subtype="DIR_PATH", default="//tracks/",
                              description="The folder the tracks are written to")
    pattern: StringProperty(name="File", default="{target}.txt",
                            description="Each track's file name; {target}, {camera} and {mode} "
                                        "are filled in")
    mode: EnumProperty(name="Mode", items=MODE_ITEMS, default="ORIGIN")
    decimals: IntProperty(**DECIMALS)
    formats: EnumProperty(name="Copies", items=format_items(), options={"ENUM_FLAG"}, default=set(),
                          description="Copies in compositors' formats beside each track")
    distort: BoolProperty(**DISTORT)
