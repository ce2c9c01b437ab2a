"""tqmotion screen tracks for Blender.

Bakes the scene's shot as a tqmotion scene file (.tqs.json) and runs
`tqhost export` on it: one track file a target, each line where the target
lands in the image of the camera Blender renders at that frame.

The package is laid out as Blender's own exporters are: here registration
and the operator; properties.py and panel.py the settings and the sidebar;
worker.py, bake.py, points.py, digits.py and job.py the work, on plain
values: the shot baked (the targets' points read in bulk, their keys written
by numpy), tqhost run, its files checked and put in place; watch.py tqhost watched from the window (Esc cancels).
"""

bl_info = {
    "name": "tqmotion screen tracks",
    "author": "tqmotion developers",
    "version": (1, 1, 0),
    # The oldest Blender it runs in. blender_manifest.toml says the same from
    # the first release that reads a manifest (4.2).
    "blender": (3, 4, 0),
    "location": "3D Viewport > Sidebar > tqmotion; File > Export > Screen tracks (tqmotion)",
    "description": "Exports where objects and bones land in the camera's image, frame by frame",
    "category": "Import-Export",
}

import bpy
from bpy.props import BoolProperty, EnumProperty, IntProperty, PointerProperty, StringProperty

from .common import FORMATS, MODE_ITEMS, ExportError
from .panel import VIEW3D_PT_tqmotion
from .properties import DECIMALS, DISTORT, TQMOTION_AP_preferences, TQMOTION_PG_settings
from .watch import Watch, reports_of
from .worker import start_export

TQHOST_TIMEOUT = 600  # seconds, for a run without a window to cancel it from


class TQMOTION_OT_export_tracks(bpy.types.Operator):
    """Export the screen tracks of the selected objects (or bones) through the scene camera"""
    bl_idname = "tqmotion.export_tracks"
    bl_label = "Export tracks"
    bl_options = {"REGISTER", "PRESET"}

    directory: StringProperty(name="Folder", subtype="DIR_PATH",
                              description="Default: the scene's tqmotion folder")
    targets: StringProperty(name="Targets", description="Objects and Armature:Bone names, comma "
                                                        "separated; empty: the selection")
    mode: EnumProperty(name="Mode", items=MODE_ITEMS, default="ORIGIN")
    decimals: IntProperty(**DECIMALS)
    distort: BoolProperty(**DISTORT)
    formats: StringProperty(name="Copies", description="Compositor copies, comma separated: "
                                                       + ", ".join(n for n, _ in FORMATS))
    pattern: StringProperty(name="File", default="{target}.txt")
    browse: BoolProperty(default=False, options={"HIDDEN", "SKIP_SAVE"},
                         description="Choose the folder in a file browser first")
    filter_folder: BoolProperty(default=True, options={"HIDDEN"})

    def invoke(self, context, event):
        if not self.browse:
            return self.execute(context)
        settings = context.scene.tqmotion
        for name in ("mode", "pattern", "decimals", "distort"):
            if not self.properties.is_property_set(name):
                setattr(self, name, getattr(settings, name))
        if not self.properties.is_property_set("directory"):
            relative = settings.directory.startswith("//") and not bpy.data.filepath
            self.directory = "" if relative else bpy.path.abspath(settings.directory)
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def draw(self, context):
        for name in ("targets", "mode", "decimals", "distort", "pattern"):
            self.layout.prop(self, name)
        self.layout.label(text="Compositor copies:")
        grid = self.layout.grid_flow(columns=3, even_columns=True, align=True)
        grid.prop(context.scene.tqmotion, "formats", expand=True)

    def settings(self, context):
        settings = context.scene.tqmotion
        value = lambda name: (getattr(self, name) if self.properties.is_property_set(name)
                              else getattr(settings, name))
        if self.properties.is_property_set("formats") and not self.browse:
            formats = [f.strip() for f in self.formats.split(",") if f.strip()]
        else:  # File > Export edits the scene's copies in its side bar
            formats = [n for n, _ in FORMATS if n in settings.formats]
        chosen = {n: value(n) for n in ("directory", "mode", "pattern", "decimals", "distort")}
        if self.browse:  # from File > Export: remembered for the next time
            for name, v in chosen.items():
                setattr(settings, name, v)
        return dict(chosen, formats=formats, targets_text=self.targets)

    def execute(self, context):
        try:
            job = start_export(context, **self.settings(context))
            if self.options.is_invoke and context.window and not bpy.app.background:
                # Watched from the window's timer: progress in the status bar, Esc cancels.
                self.watching = Watch(context, job)
                context.window_manager.modal_handler_add(self)
                return {"RUNNING_MODAL"}
            return self.answer({"FINISHED"}, reports_of(*job.wait(TQHOST_TIMEOUT)))
        except ExportError as e:
            return self.answer({"CANCELLED"}, [("ERROR", str(e))])

    def answer(self, result, reports):
        for level, text in reports:
            self.report({level}, text)
        return result

    def modal(self, context, event):
        return self.answer(*self.watching.event(context, event.type, event.value))

    def cancel(self, context):
        self.watching.stop(context)


def menu_export(self, context):
    self.layout.operator_context = "INVOKE_DEFAULT"
    self.layout.operator(TQMOTION_OT_export_tracks.bl_idname,
                         text="Screen tracks (tqmotion)").browse = True


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
