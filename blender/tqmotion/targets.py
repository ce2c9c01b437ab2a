"""The export's targets: the objects and bones named, or the selection."""

from .common import ExportError


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


def named_targets(scene, text):
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
    return picked


def selected_targets(context, camera):
    if context.mode == "POSE":
        return [(f"{ob.name}:{pb.name}", ob, pb.name)
                for ob in context.view_layer.objects if ob.mode == "POSE"
                for pb in ob.pose.bones if pb.bone.select and not pb.bone.hide]
    return sorted(((ob.name, ob, None) for ob in context.view_layer.objects
                   if ob.select_get() and ob != camera), key=lambda t: t[0])


def resolve_targets(context, text, camera):
    """[(name in the scene file, object, bone name or None)]."""
    picked = (named_targets(context.scene, text) if text.strip()
              else selected_targets(context, camera))
    unique = []
    for t in picked:
        if t[1].name not in context.view_layer.objects:
            raise ExportError(f"'{t[1].name}' is not in the view layer (an excluded collection?), "
                              "so Blender does not animate it")
        if t[1] == camera and t[2] is None:
            raise ExportError(f"'{camera.name}' is the scene camera; it cannot track itself")
        if t[0] in [u[0] for u in unique]:
            if any(u[1:] == t[1:] for u in unique):
                continue  # named twice
            raise ExportError(f"Two targets are named '{t[0]}'; rename one")
        unique.append(t)
    for name in [u[0] for u in unique]:
        if any(ord(c) < 32 for c in name):
            raise ExportError(f"The name {name!r} holds a control character, which scene files "
                              "refuse; rename it")
    if not unique:
        raise ExportError("Nothing to track: select objects (or bones in pose mode), or name "
                          "the targets")
    return unique
