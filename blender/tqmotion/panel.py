"""The sidebar panel: the shot as it will be exported, its targets, the options."""

import bpy

from .common import ExportError, find_tqhost, frame_rate, image_size, shot_range
from .targets import resolve_targets


class VIEW3D_PT_tqmotion(bpy.types.Panel):
    bl_label = "Screen tracks"
    bl_space_type = "VIEW_3D"
    bl_region_type = "UI"
    bl_category = "tqmotion"

    def draw_shot(self, context):
        scene = context.scene
        width, height = image_size(scene.render)
        start, end = shot_range(scene)
        box = self.layout.box().column(align=True)
        box.label(text=scene.camera.name if scene.camera else "No scene camera",
                  icon="CAMERA_DATA" if scene.camera else "ERROR")
        if any(m.camera for m in scene.timeline_markers):
            box.label(text="Cameras switch at markers", icon="MARKER")
        box.label(text=f"{start}-{end} at {frame_rate(scene.render):.6g} fps", icon="TIME")
        box.label(text=f"{width} x {height} px", icon="IMAGE_DATA")
        try:
            find_tqhost(context)
        except ExportError:
            box.label(text="tqhost not found: see the add-on's preferences", icon="ERROR")

    def draw_targets(self, context):
        try:
            targets, problem = resolve_targets(context, "", context.scene.camera), None
        except ExportError as e:
            targets, problem = [], str(e)
        col = self.layout.column(align=True)
        col.label(text=f"Targets: {len(targets)} selected" if targets else problem,
                  icon="NONE" if targets else "INFO")
        icons = bpy.types.UILayout.bl_rna.functions["label"].parameters["icon"].enum_items.keys()
        for name, ob, bone in targets[:6]:
            icon = "BONE_DATA" if bone else "OUTLINER_OB_" + ob.type
            col.label(text=bone or name, icon=icon if icon in icons else "OBJECT_DATA")
        if len(targets) > 6:
            col.label(text=f"and {len(targets) - 6} more")
        return targets

    def draw(self, context):
        layout, settings = self.layout, context.scene.tqmotion
        self.draw_shot(context)
        targets = self.draw_targets(context)
        layout.prop(settings, "mode", expand=True)
        layout.prop(settings, "decimals")
        layout.prop(settings, "distort")
        if settings.distort:
            clip = context.scene.active_clip
            layout.label(text=f"Lens of {clip.name}" if clip else "No active movie clip",
                         icon="TRACKER" if clip else "ERROR")
        layout.prop(settings, "directory")
        layout.prop(settings, "pattern")
        layout.label(text="Compositor copies:")
        grid = layout.grid_flow(columns=3, even_columns=True, align=True)
        grid.prop(settings, "formats", expand=True)
        row = layout.row()
        row.scale_y = 1.4
        row.operator_context = "INVOKE_DEFAULT"
        row.enabled = bool(targets) and context.scene.camera is not None
        row.operator("tqmotion.export_tracks", icon="EXPORT")
