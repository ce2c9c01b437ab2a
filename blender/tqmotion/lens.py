"""The plate as Blender renders it, written for tqhost's projection.

Blender puts a point of slope (X / depth, Y / depth) in its camera at the
output pixel (origin bottom-left) x = ox + kx * slope_x, y = oy + ky * slope_y:
a line per axis, shaped by the lens, sensor fit, shift, resolution and pixel
aspect (frame_lines). tqhost puts a point of slope t in its own camera at
x = cx + (hw / L) t_x, y = cy + (W / H) hh A / L t_y, with hw, hh half the
size in whole pixels, L its lens factor (35 / (2 L) its focal length),
(cx, cy) = (hw, hh) moved by the film offset and A the pixel aspect (Plate).
Both lines are linear in the slopes, so a linear map of camera space
(Plate.camera_map) makes tqhost's pixel Blender's, frame by frame, for any
plate the run writes: the plate carries what Blender renders (the first
frame's shift, the render's pixel aspect), or, distorted to a clip's lens,
that lens's principal point, focal length and pixel aspect, and the map
carries the rest (odd sizes, a percentage, a shift that is animated or
differs between the cameras markers switch to).
"""

import mathutils

from .common import ExportError


def half_size(width, height):
    """The image's half size in whole pixels, as tqhost takes it."""
    if width < 2 or height < 2:
        raise ExportError(f"The image is {width} x {height} pixels; tracks need at least 2 x 2")
    return width // 2, height // 2


def frame_lines(cam, render, width, height):
    """((ox, kx), (oy, ky)) and the frame's half width at a distance of 1, as
    view_frame and world_to_camera_view have them: the frame shaped by the
    resolution before its percentage times the pixel aspect (the sensor fit
    decided on that shape too; under Auto the sensor width spans the larger
    side), the shift in extents of the side the sensor spans, across and up
    alike."""
    aspx = render.resolution_x * render.pixel_aspect_x
    aspy = render.resolution_y * render.pixel_aspect_y
    fit = cam.sensor_fit
    sensor = cam.sensor_height if fit == "VERTICAL" else cam.sensor_width
    if fit == "AUTO":
        fit = "HORIZONTAL" if aspx >= aspy else "VERTICAL"
    half = sensor / (2.0 * cam.lens)
    ex, ey = (half, half * aspy / aspx) if fit == "HORIZONTAL" else (half * aspx / aspy, half)
    kx, ky = width / (2.0 * ex), height / (2.0 * ey)
    return ((width / 2.0 - kx * 2.0 * half * cam.shift_x, kx),
            (height / 2.0 - ky * 2.0 * half * cam.shift_y, ky)), ex


class Plate:
    """The camera's film offset (in image widths), pixel aspect and
    distortion (the scene file's keys) and, for a clip's lens, tqhost's lens
    factor for every frame (None: each frame's own, its frame's half width)."""

    def __init__(self, offset=(0.0, 0.0), aspect=1.0, distortion=None, lens=None):
        self.offset, self.aspect = offset, aspect
        self.distortion, self.lens = distortion, lens

    def keys(self):
        keys = {"filmOffset": list(self.offset), "pixelAspect": self.aspect}
        if self.distortion:
            keys["distortion"] = dict(model="brown", **self.distortion)
        return keys

    def camera_map(self, lines, width, height, lens):
        """The map from Blender's camera space to tqhost's under which tqhost's
        pixel, through this plate and lens factor, is Blender's: slope t_x =
        L / hw (x - cx), t_y = L H / (W hh A) (y - cy), each in proportion to
        the depth (-Z)."""
        (ox, kx), (oy, ky) = lines
        hw, hh = half_size(width, height)
        cx = hw - self.offset[0] * width
        cy = hh - self.offset[1] * width
        sx = lens / hw
        sy = lens * height / (width * hh * self.aspect)
        return mathutils.Matrix((
            (sx * kx, 0.0, -sx * (ox - cx), 0.0),
            (0.0, sy * ky, -sy * (oy - cy), 0.0),
            (0.0, 0.0, 1.0, 0.0),
            (0.0, 0.0, 0.0, 1.0)))


def rendered_plate(cam, render, width, height):
    """The plate as Blender renders it at the first frame: its shift as a film
    offset (where the frame's centre lands, from the image's centre, in image
    widths) and the render's pixel aspect."""
    ((ox, _), (oy, _)), _ = frame_lines(cam, render, width, height)
    return Plate(offset=((width / 2.0 - ox) / width, (height / 2.0 - oy) / width),
                 aspect=render.pixel_aspect_x / render.pixel_aspect_y)


def clip_distortion(clip):
    """The clip's lens as tqhost's Brown-Conrady coefficients (OpenCV's: y
    down, p1 on the 2xy term of x), or the reason it cannot be."""
    tc = clip.tracking.camera
    model = tc.distortion_model
    if model == "POLYNOMIAL":
        return dict(k1=tc.k1, k2=tc.k2, k3=tc.k3, p1=0.0, p2=0.0)
    if model == "BROWN" and tc.brown_k4 == 0:
        # Blender's Brown has y up and p1 on the (r^2 + 2x^2) term of x:
        # the same lens as OpenCV's with p1 = -Blender's p2, p2 = Blender's p1.
        return dict(k1=tc.brown_k1, k2=tc.brown_k2, k3=tc.brown_k3, p1=-tc.brown_p2,
                    p2=tc.brown_p1)
    what = "Brown with a K4" if model == "BROWN" else model.capitalize()
    raise ExportError(f"The movie clip '{clip.name}' has Blender's {what} lens distortion, which "
                      "tqhost does not implement (it takes Polynomial, and Brown without K4); "
                      "turn off 'Distort to the clip's lens'")


def clip_plate(scene, width, height):
    """The plate of the active clip's lens, as the Movie Distortion node puts
    the render on it: the render stretched onto the clip's pixels across and
    up, then distorted about the clip's principal point with its focal length
    (times its pixel aspect up), all in the clip's pixels."""
    clip = scene.active_clip
    if clip is None:
        raise ExportError("'Distort to the clip's lens' is on, but the scene has no active movie "
                          "clip (Scene Properties)")
    wc, hc = clip.size
    if wc <= 0 or hc <= 0:
        raise ExportError(f"The movie clip '{clip.name}' has no size (is its file missing?); "
                          "its lens cannot be laid on the render")
    distortion = clip_distortion(clip)
    tc = clip.tracking.camera
    if not (tc.focal_length_pixels > 0 and tc.pixel_aspect > 0):
        raise ExportError(f"The movie clip '{clip.name}' has no focal length; solve or set it")
    ppx, ppy = (tc.principal_point_pixels if hasattr(tc, "principal_point_pixels")
                else tc.principal)
    sx, sy = width / wc, height / hc
    fx, fy = tc.focal_length_pixels * sx, tc.focal_length_pixels * tc.pixel_aspect * sy
    hw, hh = half_size(width, height)
    lens = hw / fx
    return Plate(offset=((hw - ppx * sx) / width, (hh - ppy * sy) / width),
                 aspect=fy * lens * height / (width * hh), distortion=distortion, lens=lens)
