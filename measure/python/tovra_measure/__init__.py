"""Tovra's automatic domain measurement from Python: the library libTovraMeasure.so through
ctypes, on NumPy arrays.

    import numpy as np
    import tovra_measure

    pixels = np.fromfile("samples/maze_512.mon", dtype=np.uint8).reshape(512, 512)
    m = tovra_measure.measure(pixels, pixel_size=0.12)
    print(m.pattern, m.reliable, m.period_px, m.period_se_px, m.black_width_um)

`measure(pixels, background=None, rect=None, pixel_size=None)` takes a 2-D array of any numeric
dtype (rows from the top), an optional Kerr background of the same shape, an optional rectangle
(x1, y1, x2, y2: columns x1..x2-1, rows y1..y2-1) and an optional pixel size in micrometres, and
returns a `Measurement`: every field of the record the command line writes. `measure_file(path,
...)` reads the picture first (raw with `size=(width, height)`, CSV, NumPy's .npy, and with
Pillow PNG, TIFF, BMP, JPEG and GIF) and measures it like the program: every page of a
multi-page TIFF (then a list, one Measurement a page), with the pixel size the file states (an
OME-TIFF's or ImageJ TIFF's metadata, else the resolution tags) unless `pixel_size` is given.
`track(frames, values=None, max_step=None, memory=0, pixel_size=None)` measures every frame
and follows its bubbles through them (see `track`); `link(positions, ...)` links given positions.
`motion(frames, values=None, durations=None, ...)` measures how the walls move between frames.
`read_masks(path)` reads the masks the program writes with `--masks F.ome.tif`. Only regular files are read: a FIFO or a device is
refused with ValueError rather than waited on. A measurement that cannot be made has `error` set
and no numbers; arguments that cannot describe an image raise ValueError.

The library is found, in this order, at TOVRA_MEASURE_LIB (an absolute path), beside this
package, in the build folder of the checkout the package sits in (build/default/bin, then any
build/*/bin), and where the system's loader looks (an installed Tovra). A library is never
taken from the current folder."""
import ctypes
import dataclasses
import glob
import json
import math
import os
import stat
import typing

import numpy as np

__all__ = ["measure", "measure_file", "track", "link", "motion", "TRACK_DTYPE", "BUBBLE_DTYPE", "read_picture", "read_pages", "Measurement", "Warning", "Bubbles", "Grain", "Band", "library_path",
           "read_masks", "Masks"]

_INT32_MAX = 2**31 - 1
_LIBRARY = "libTovraMeasure.so"


@dataclasses.dataclass(frozen=True)
class Warning:  # noqa: A001 - the record's own word
    code: str
    message: str
    serious: bool


# Each bubble of a frame: its centre (columns and rows, the top left pixel's centre at 0, 0), the
# standard error of each coordinate, its equivalent diameter, whether the border leaves it whole and
# whether it is one (two bubbles run together are not).
BUBBLE_DTYPE = np.dtype([("x_px", "f8"), ("y_px", "f8"), ("position_se_px", "f8"), ("diameter_px", "f8"),
                         ("inside", "?"), ("single", "?")])


@dataclasses.dataclass(frozen=True)
class LatticeOrder:
    """The bubbles' lattice: |psi6| with its standard error over the bubbles whose Delaunay
    neighbours are all known, the five- and sevenfold ones (indices into the items), the
    dislocations' places, and g(r) and g6(r) as an array of (r_px, g, g6)."""

    counted: int
    psi6: float
    psi6_se: float
    fivefold: int
    sevenfold: int
    fivefold_items: typing.Tuple[int, ...]
    sevenfold_items: typing.Tuple[int, ...]
    dislocations: typing.Tuple[typing.Tuple[float, float], ...]
    correlation: np.ndarray


@dataclasses.dataclass(frozen=True)
class Bubbles:
    colour: str
    count: int
    count_inside: int
    density_per_px2: float
    mean_diameter_px: float
    sd_diameter_px: float
    mean_nearest_neighbour_px: float
    count_se: typing.Optional[float] = None
    density_se_per_px2: typing.Optional[float] = None
    mean_diameter_se_px: typing.Optional[float] = None
    mean_nearest_neighbour_se_px: typing.Optional[float] = None
    density_per_um2: typing.Optional[float] = None
    mean_diameter_um: typing.Optional[float] = None
    sd_diameter_um: typing.Optional[float] = None
    mean_nearest_neighbour_um: typing.Optional[float] = None
    density_se_per_um2: typing.Optional[float] = None
    mean_diameter_se_um: typing.Optional[float] = None
    mean_nearest_neighbour_se_um: typing.Optional[float] = None
    items: np.ndarray = dataclasses.field(default_factory=lambda: np.zeros(0, BUBBLE_DTYPE))
    order: typing.Optional[LatticeOrder] = None

    @classmethod
    def from_record(cls, record):
        fields = dict(record)
        items = fields.pop("items", ())
        fields["items"] = np.array([(i["x_px"], i["y_px"], i["position_se_px"], i["diameter_px"], i["inside"],
                                     i["single"]) for i in items], dtype=BUBBLE_DTYPE)
        order = fields.pop("order", None)
        if order is not None:
            order = dict(order)
            order["fivefold_items"] = tuple(order["fivefold_items"])
            order["sevenfold_items"] = tuple(order["sevenfold_items"])
            order["dislocations"] = tuple((d["x_px"], d["y_px"]) for d in order["dislocations"])
            order["correlation"] = np.array([(c["r_px"], c["g"], c["g6"]) for c in order["correlation"]],
                                            dtype=float).reshape(-1, 3)
            fields["order"] = LatticeOrder(**order)
        return cls(**fields)


@dataclasses.dataclass(frozen=True)
class Grain:
    id: int
    angle_deg: float
    area_fraction: float


@dataclasses.dataclass(frozen=True)
class Band:
    position_px: float
    angle_deg: float
    width_px: float
    colour: str
    grain: typing.Optional[int] = None
    width_um: typing.Optional[float] = None


@dataclasses.dataclass(frozen=True)
class Measurement:
    """One record. Widths are None where the frame has no domain pattern (`pattern` "none") and
    every number is None where the measurement could not be made (`error`)."""

    width: typing.Optional[int] = None
    height: typing.Optional[int] = None
    pattern: typing.Optional[str] = None
    reliable: bool = False
    warnings: typing.Tuple[Warning, ...] = ()
    black_fraction: typing.Optional[float] = None
    black_fraction_se: typing.Optional[float] = None
    black_width_px: typing.Optional[float] = None
    black_width_se_px: typing.Optional[float] = None
    white_width_px: typing.Optional[float] = None
    white_width_se_px: typing.Optional[float] = None
    period_px: typing.Optional[float] = None
    period_se_px: typing.Optional[float] = None
    black_fraction_sys: typing.Optional[float] = None
    black_width_sys_px: typing.Optional[float] = None
    white_width_sys_px: typing.Optional[float] = None
    period_sys_px: typing.Optional[float] = None
    blur_px: typing.Optional[float] = None
    period_fft_px: typing.Optional[float] = None
    periods_across: typing.Optional[float] = None
    blocks: typing.Optional[int] = None
    black_domains: typing.Optional[int] = None
    white_domains: typing.Optional[int] = None
    walls: typing.Optional[int] = None
    orientation_deg: typing.Optional[float] = None
    anisotropy: typing.Optional[float] = None
    threshold: typing.Optional[float] = None
    settings: typing.Optional[str] = None
    pixel_size_um: typing.Optional[float] = None
    black_width_um: typing.Optional[float] = None
    black_width_se_um: typing.Optional[float] = None
    white_width_um: typing.Optional[float] = None
    white_width_se_um: typing.Optional[float] = None
    period_um: typing.Optional[float] = None
    period_se_um: typing.Optional[float] = None
    black_width_sys_um: typing.Optional[float] = None
    white_width_sys_um: typing.Optional[float] = None
    period_sys_um: typing.Optional[float] = None
    bubbles: typing.Optional[Bubbles] = None
    grains: typing.Tuple[Grain, ...] = ()
    bands: typing.Tuple[Band, ...] = ()
    error: typing.Optional[str] = None

    @classmethod
    def from_record(cls, record):
        """From the library's JSON record (a dict); a field the record has and the class does
        not is an error, so that no number is dropped unseen."""
        fields = dict(record)
        fields.pop("file", None)
        fields.pop("page", None)
        fields.pop("value", None)
        unknown = set(fields) - {f.name for f in dataclasses.fields(cls)}
        if unknown:
            raise TypeError(f"the record has fields this module does not know: {sorted(unknown)}")
        fields["warnings"] = tuple(Warning(**w) for w in fields.get("warnings", ()))
        fields["grains"] = tuple(Grain(**g) for g in fields.get("grains", ()))
        fields["bands"] = tuple(Band(**b) for b in fields.get("bands", ()))
        if fields.get("bubbles") is not None:
            fields["bubbles"] = Bubbles.from_record(fields["bubbles"])
        return cls(**fields)


class _Measurement(ctypes.Structure):
    _fields_ = [
        ("pattern", ctypes.c_char * 16),
        ("error", ctypes.c_char * 160),
        ("black_fraction", ctypes.c_double),
        ("black_width_px", ctypes.c_double),
        ("white_width_px", ctypes.c_double),
        ("period_px", ctypes.c_double),
        ("period_fft_px", ctypes.c_double),
        ("orientation_deg", ctypes.c_double),
        ("anisotropy", ctypes.c_double),
        ("threshold", ctypes.c_double),
        ("bands", ctypes.c_int32),
        ("black_fraction_se", ctypes.c_double),
        ("black_width_se_px", ctypes.c_double),
        ("white_width_se_px", ctypes.c_double),
        ("period_se_px", ctypes.c_double),
        ("periods_across", ctypes.c_double),
        ("reliable", ctypes.c_int32),
        ("warnings", ctypes.c_int32),
    ]


_HINT = "Build Tovra (make test), install it, or set TOVRA_MEASURE_LIB to the absolute path of libTovraMeasure.so"


def library_path():
    """Where the library is taken from (see the module's description): an absolute path, or the
    bare name that only the system's loader resolves (never against the current folder)."""
    given = os.environ.get("TOVRA_MEASURE_LIB")
    if given:
        if not os.path.isabs(given):
            raise OSError(f"TOVRA_MEASURE_LIB must be an absolute path, not {given!r}. {_HINT}")
        return given
    here = os.path.dirname(os.path.abspath(__file__))
    beside = os.path.join(here, _LIBRARY)
    if os.path.exists(beside):
        return beside
    checkout = os.path.dirname(os.path.dirname(os.path.dirname(here)))  # measure/python/tovra_measure
    builds = [os.path.join(checkout, "build", "default", "bin", _LIBRARY)]
    builds += sorted(glob.glob(os.path.join(checkout, "build", "*", "bin", _LIBRARY)))
    for candidate in builds:
        if os.path.exists(candidate):
            return candidate
    return _LIBRARY  # the system's loader: an installed Tovra


_libraries = {}


def _library():
    path = library_path()
    if path not in _libraries:
        try:
            # An absolute path through a link, from the library's own folder, where the libraries it
            # needs sit; the bare name goes to the system's loader as it is.
            lib = ctypes.CDLL(os.path.realpath(path) if os.path.isabs(path) else path)
        except OSError as e:
            raise OSError(f"{e}. {_HINT}") from None
        dp, i32 = ctypes.POINTER(ctypes.c_double), ctypes.c_int32
        try:
            lib.tovra_measure.argtypes = [dp, i32, i32, dp, i32, i32, i32, i32, ctypes.POINTER(_Measurement)]
            lib.tovra_measure.restype = i32
            lib.tovra_measure_record.argtypes = [ctypes.c_char_p, i32, ctypes.c_double]
            lib.tovra_measure_record.restype = i32
            lib.tovra_track.argtypes = [dp, dp, dp, dp, ctypes.POINTER(ctypes.c_uint8), ctypes.POINTER(ctypes.c_int64),
                                        i32, dp, ctypes.c_double,
                                        i32, ctypes.POINTER(i32)]
            lib.tovra_track.restype = i32
            lib.tovra_track_summary.argtypes = [ctypes.c_char_p, i32, ctypes.c_double]
            lib.tovra_track_summary.restype = i32
            ip = ctypes.POINTER(i32)
            lib.tovra_motion.argtypes = [dp, i32, i32, i32, dp, dp, dp, ip, ip, ctypes.POINTER(ctypes.c_float)]
            lib.tovra_motion.restype = i32
            lib.tovra_motion_json.argtypes = [ctypes.c_char_p, i32, ctypes.c_double, i32]
            lib.tovra_motion_json.restype = i32
        except AttributeError:
            raise OSError(f"{path} is not Tovra's measurement library (it lacks tovra_measure). {_HINT}") from None
        _libraries[path] = lib
    return _libraries[path]


def _plane(values, what, shape=None):
    """A C-ordered float64 array: NumPy converts any dtype in one pass, without Python lists. The
    shape is checked before the copy, so that too large an array is refused before its float64
    copy is asked for."""
    try:
        given = np.asarray(values)
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be a 2-D array of numbers") from None
    if given.ndim != 2 or given.shape[0] < 1 or given.shape[1] < 1:
        raise ValueError(f"{what} must be a 2-D array of numbers, not of shape {given.shape}")
    if shape is not None and given.shape != shape:
        raise ValueError(f"{what} has shape {given.shape}, the pixels {shape}")
    if given.shape[0] * given.shape[1] > _INT32_MAX:
        raise ValueError(f"{given.shape[1]} x {given.shape[0]} pixels are more than the library takes")
    try:
        return np.ascontiguousarray(given, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be a 2-D array of numbers") from None


def _corners(rect):
    if rect is None:
        return (0, 0, 0, 0)
    try:
        corners = tuple(rect)
    except TypeError:
        raise ValueError("rect must be four whole numbers x1, y1, x2, y2") from None
    if len(corners) != 4:
        raise ValueError(f"rect must be four whole numbers x1, y1, x2, y2, not {len(corners)} values")
    for v in corners:
        if isinstance(v, bool) or not isinstance(v, (int, np.integer)) or not -_INT32_MAX - 1 <= v <= _INT32_MAX:
            raise ValueError(f"a corner of rect must be a 32-bit whole number, not {v!r}")
    return tuple(int(v) for v in corners)


def measure(pixels, background=None, rect=None, pixel_size=None):
    """Measures a 2-D array; see the module's description."""
    image = _plane(pixels, "pixels")
    back = _plane(background, "background", image.shape) if background is not None else None
    corners = _corners(rect)
    if pixel_size is not None:
        try:
            pixel_size = float(pixel_size)
        except (TypeError, ValueError):
            raise ValueError(f"pixel_size must be a number of micrometres, not {pixel_size!r}") from None
        if not (pixel_size > 0 and np.isfinite(pixel_size)):
            raise ValueError(f"pixel_size must be above 0 micrometres, not {pixel_size!r}")
    lib = _library()
    dp = ctypes.POINTER(ctypes.c_double)
    result = _Measurement()
    height, width = image.shape
    status = lib.tovra_measure(
        image.ctypes.data_as(dp), width, height, back.ctypes.data_as(dp) if back is not None else None,
        *corners, ctypes.byref(result))
    if status:
        return Measurement(error=result.error.decode(errors="replace"))
    size = lib.tovra_measure_record(None, 0, pixel_size or 0.0)
    text = ctypes.create_string_buffer(size + 1)
    lib.tovra_measure_record(text, size + 1, pixel_size or 0.0)
    return Measurement.from_record(json.loads(text.value.decode()))


def _regular(path):
    """A FIFO would block the read and a device never end: only regular files are opened."""
    try:
        mode = os.stat(path).st_mode
    except OSError as e:
        raise ValueError(f"{path}: {e.strerror.lower() if e.strerror else 'cannot be read'}") from None
    if not stat.S_ISREG(mode):
        raise ValueError(f"{path} is not a regular file (a folder, a FIFO or a device)")


def _tiff_pixel_size(tags):
    """Micrometres a pixel from a TIFF page's X resolution (tag 282) and unit (296: 2 inch, the
    default, 3 centimetre; 1 says nothing of size), or None."""
    resolution, unit = tags.get(282), tags.get(296, 2)
    try:
        resolution = float(resolution[0] / resolution[1]) if isinstance(resolution, tuple) else float(resolution)
    except (TypeError, ValueError, ZeroDivisionError):
        return None
    if not resolution > 0 or unit not in (2, 3):
        return None
    return (25400.0 if unit == 2 else 10000.0) / resolution


_MICROMETRES = {"m": 1e6, "cm": 1e4, "mm": 1e3, "µm": 1.0, "μm": 1.0, "um": 1.0, "micron": 1.0, "microns": 1.0,
                "\\u00B5m": 1.0, "nm": 1e-3, "pm": 1e-6, "Å": 1e-4, "angstrom": 1e-4, "inch": 25400.0}


def _description_bytes(description):
    """A TIFF description's bytes: Pillow gives the ASCII tag decoded as Latin-1, which turns the
    UTF-8 of a "µm" into two characters; those are its bytes again."""
    if isinstance(description, bytes):
        return description
    text = description or ""
    try:
        return text.encode("latin-1")
    except UnicodeEncodeError:
        return text.encode("utf-8")


def _description_pixel_size(description, resolution):
    """Micrometres a pixel from a stack's description, as the program reads it: an OME-XML's
    PhysicalSizeX with its unit, or an ImageJ description's unit applied to the X resolution
    (pixels per unit); None where it gives none (the resolution tags then stand)."""
    text = _description_bytes(description).decode("utf-8", errors="replace").strip()
    if text.startswith("<?xml") or text.startswith("<OME"):
        import xml.etree.ElementTree as ET
        try:  # as bytes: a str with an encoding declaration is refused
            root = ET.fromstring(text.encode("utf-8"))
        except ET.ParseError:
            return None
        for element in root.iter():
            if element.tag.rsplit("}", 1)[-1] == "Pixels" and "PhysicalSizeX" in element.attrib:
                try:
                    size = float(element.attrib["PhysicalSizeX"])
                except ValueError:
                    return None
                um = _MICROMETRES.get(element.attrib.get("PhysicalSizeXUnit", "µm").strip(), 0.0)
                return size * um if size > 0 and um > 0 and math.isfinite(size * um) else None
        return None
    if text.startswith("ImageJ="):
        fields = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
        um = _MICROMETRES.get(fields.get("unit", "").strip(), 0.0)
        try:
            resolution = float(resolution[0] / resolution[1]) if isinstance(resolution, tuple) else float(resolution)
        except (TypeError, ValueError, ZeroDivisionError):
            return None
        return um / resolution if um > 0 and resolution > 0 else None
    return None


def _pillow(path, what):
    """Pillow's Image module, or ValueError saying what needs it."""
    try:
        from PIL import Image
    except ImportError:
        raise ValueError(f"{path}: reading {what} needs Pillow (python3-pil)") from None
    return Image


def read_pages(path, size=None):
    """Every page of a picture file as (array, pixel size in micrometres or None): one for any
    file but a multi-page TIFF. See read_picture."""
    _regular(path)
    suffix = os.path.splitext(path)[1].lower()
    if suffix not in (".tif", ".tiff"):
        return [(read_picture(path, size), None)]
    Image = _pillow(path, f"{suffix} pictures")
    pages = []
    with Image.open(path) as picture:
        # An OME-TIFF's or ImageJ TIFF's pixel size, from the first page's description, holds over
        # the resolution tags of every page.
        tags = dict(picture.tag_v2) if hasattr(picture, "tag_v2") else {}
        stated = _description_pixel_size(tags.get(270), tags.get(282))
        for k in range(getattr(picture, "n_frames", 1)):
            picture.seek(k)
            um = stated or (_tiff_pixel_size(dict(picture.tag_v2)) if hasattr(picture, "tag_v2") else None)
            page = picture if picture.mode in ("L", "I;16", "I;16B", "I", "F") else picture.convert("L")
            pages.append((np.array(page), um))
    return pages


def read_picture(path, size=None):
    """A picture file as a 2-D array: raw (8 bits, or 16 little-endian, with size=(width,
    height)), CSV, .npy, or through Pillow any picture it decodes (16-bit grey kept); of a
    multi-page TIFF the first page."""
    _regular(path)
    suffix = os.path.splitext(path)[1].lower()
    if suffix in (".mon", ".raw"):
        if size is None:
            raise ValueError(f"{path}: a raw picture needs size=(width, height)")
        width, height = size
        n = os.path.getsize(path)
        if n not in (width * height, 2 * width * height):
            raise ValueError(f"{path}: {n} bytes are neither {width} x {height} bytes nor twice that")
        dtype = np.uint8 if n == width * height else np.dtype("<u2")
        return np.fromfile(path, dtype=dtype).reshape(height, width)
    if suffix == ".csv":
        return np.loadtxt(path, delimiter=",", ndmin=2)
    if suffix == ".npy":
        return np.load(path, allow_pickle=False)
    Image = _pillow(path, f"{suffix} pictures")
    with Image.open(path) as picture:
        if picture.mode not in ("L", "I;16", "I;16B", "I", "F"):
            picture = picture.convert("L")
        return np.asarray(picture)


def measure_file(path, background=None, rect=None, pixel_size=None, size=None):
    """Reads a picture (see read_pages) and measures it, as the program does: a Measurement, or
    for a multi-page TIFF a list of them, one a page; the pixel size the file states unless
    `pixel_size` is given. `background` is a file too: one page for every page, or one a page."""
    pages = read_pages(path, size)
    backs = read_pages(background, size) if background is not None else None
    if backs is not None and len(backs) not in (1, len(pages)):
        raise ValueError(f"{background}: {len(backs)} background pages for {len(pages)} pages (one, or one a page)")
    out = []
    for k, (pixels, um) in enumerate(pages):
        back = backs[0 if len(backs) == 1 else k][0] if backs is not None else None
        out.append(measure(pixels, background=back, rect=rect, pixel_size=pixel_size if pixel_size is not None else um))
    return out[0] if len(out) == 1 else out


@dataclasses.dataclass
class Masks:
    """The program's masks (`Tovra --measure ... --masks F.ome.tif`): per frame the domains (1
    black, 0 white, 65535 where the frame was not measured) and the bubbles or grains numbered
    from 1, as arrays of shape (frames, height, width); the pixel size in micrometres (or None);
    and each frame's annotation (file, page, value, black fraction, or its error)."""
    domains: typing.Any
    labels: typing.Any
    pixel_size_um: typing.Optional[float]
    frames: typing.List[dict]


def read_masks(path):
    """Reads a mask stack the program wrote (see Masks)."""
    import xml.etree.ElementTree as ET
    _regular(path)
    Image = _pillow(path, "masks")
    planes = []
    with Image.open(path) as picture:
        tags = dict(picture.tag_v2) if hasattr(picture, "tag_v2") else {}
        description = tags.get(270) or ""
        for k in range(getattr(picture, "n_frames", 1)):
            picture.seek(k)
            planes.append(np.array(picture, dtype=np.uint16))
    try:
        root = ET.fromstring(_description_bytes(description))
    except ET.ParseError:
        raise ValueError(f"{path}: its description is no OME-XML: not a mask stack of this program") from None

    def local(element):
        return element.tag.rsplit("}", 1)[-1]

    pixels = next((e for e in root.iter() if local(e) == "Pixels"), None)
    if pixels is None or pixels.attrib.get("SizeC") != "2" or len(planes) != 2 * int(pixels.attrib.get("SizeT", "0")):
        raise ValueError(f"{path}: not a mask stack of this program (two channels a frame)")
    frames = []
    for annotation in (e for e in root.iter() if local(e) == "MapAnnotation"):
        frames.append({m.attrib.get("K"): m.text for m in annotation.iter() if local(m) == "M"})
    stack = np.stack(planes) if planes else np.zeros((0, 0, 0), np.uint16)
    return Masks(domains=stack[0::2], labels=stack[1::2],
                 pixel_size_um=_description_pixel_size(description, None), frames=frames)


# A row of the tracks: a bubble in a frame (from 1), its track, the frame's value, its centre and
# diameter (and the same in micrometres, NaN without a pixel size).
TRACK_DTYPE = np.dtype([("track_id", "i4"), ("frame", "i4"), ("value", "f8"), ("x_px", "f8"), ("y_px", "f8"),
                        ("diameter_px", "f8"), ("x_um", "f8"), ("y_um", "f8"), ("diameter_um", "f8")])


def _positive(value, what):
    try:
        value = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be a number above 0, not {value!r}") from None
    if not (value > 0 and np.isfinite(value)):
        raise ValueError(f"{what} must be a number above 0, not {value!r}")
    return value


def link(positions, values=None, max_step=None, memory=0, pixel_size=None):
    """Links given bubbles through frames, as `track` links the ones it measures. `positions`:
    one array a frame of rows (x, y), (x, y, se), (x, y, se, diameter) or (x, y, se, diameter,
    inside), inside 0 for a bubble the border cuts or one run together with another (its steps count
    for neither drift nor MSD). Returns (tracks, summary):
    a structured array of TRACK_DTYPE sorted by track and frame, and the summary as a dict (the
    counts, the drift by frame, the MSD with its errors, D with its error, the pinned share)."""
    frames = []
    for k, p in enumerate(positions):
        a = np.asarray(p, dtype=float)
        if a.size == 0:
            a = np.zeros((0, 5))
        if a.ndim != 2 or a.shape[1] < 2 or a.shape[1] > 5:
            raise ValueError(f"frame {k + 1}: positions must be rows of x, y[, se[, diameter[, inside]]], not {a.shape}")
        if not np.all(np.isfinite(a[:, :2])):
            raise ValueError(f"frame {k + 1}: a position is not a number")
        full = np.zeros((a.shape[0], 5))
        full[:, 4] = 1
        full[:, :a.shape[1]] = a
        frames.append(full)
    n = len(frames)
    if n > _INT32_MAX:
        raise ValueError("too many frames")
    if values is not None:
        values = np.ascontiguousarray(values, dtype=float).ravel()
        if values.size != n:
            raise ValueError(f"{values.size} values for {n} frames")
    step = 0.0 if max_step is None else _positive(max_step, "max_step")
    if not isinstance(memory, (int, np.integer)) or not 0 <= memory <= 1000:
        raise ValueError(f"memory must be a whole number of frames from 0 to 1000, not {memory!r}")
    um = None if pixel_size is None else _positive(pixel_size, "pixel_size")
    points = np.concatenate(frames) if frames else np.zeros((0, 5))
    counts = np.array([f.shape[0] for f in frames], dtype=np.int64)
    cols = [np.ascontiguousarray(points[:, i]) for i in range(4)]
    ids = np.zeros(points.shape[0], dtype=np.int32)
    lib = _library()
    dp = ctypes.POINTER(ctypes.c_double)
    inside = np.ascontiguousarray(points[:, 4] != 0, dtype=np.uint8)
    status = lib.tovra_track(*(c.ctypes.data_as(dp) for c in cols), inside.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8)),
                             counts.ctypes.data_as(ctypes.POINTER(ctypes.c_int64)),
                             n, values.ctypes.data_as(dp) if values is not None else None, step, int(memory),
                             ids.ctypes.data_as(ctypes.POINTER(ctypes.c_int32)))
    size = lib.tovra_track_summary(None, 0, um or 0.0)
    text = ctypes.create_string_buffer(size + 1)
    lib.tovra_track_summary(text, size + 1, um or 0.0)
    summary = json.loads(text.value.decode())
    if status:
        raise ValueError(summary.get("error", "the bubbles cannot be linked"))
    rows = np.zeros(points.shape[0], dtype=TRACK_DTYPE)
    frame_of = np.repeat(np.arange(1, n + 1, dtype=np.int32), counts)
    rows["track_id"], rows["frame"] = ids, frame_of
    rows["value"] = values[frame_of - 1] if values is not None else frame_of
    rows["x_px"], rows["y_px"], rows["diameter_px"] = points[:, 0], points[:, 1], points[:, 3]
    for px, name in (("x_px", "x_um"), ("y_px", "y_um"), ("diameter_px", "diameter_um")):
        rows[name] = rows[px] * um if um else np.nan
    return np.sort(rows, order=["track_id", "frame"], kind="stable"), summary


def track(frames, values=None, max_step=None, memory=0, pixel_size=None):
    """Measures each frame (2-D arrays of one shape, or a 3-D array of frames) and follows its
    bubbles: linked from frame to frame by the assignment of least total squared step within
    `max_step` pixels (None: half the median nearest-neighbour distance), a bubble allowed to be
    missed for `memory` frames, the drift taken out. Returns (tracks, summary) as `link` does; the
    summary's "frame_details" gives each frame's bubbles and lattice order (None where a frame has
    no bubbles)."""
    positions, details, shape = [], [], None
    for k, pixels in enumerate(frames):
        image = _plane(pixels, f"frame {k + 1}")
        if shape is None:
            shape = image.shape
        elif image.shape != shape:
            raise ValueError(f"frame {k + 1} has shape {image.shape}, the first {shape}: a track needs one size")
        m = measure(image, pixel_size=pixel_size)
        b = m.bubbles
        if b is None:
            positions.append(np.zeros((0, 5)))
            details.append({"bubbles": 0, "note": m.error or f"no bubbles ({m.pattern})"})
            continue
        it = b.items
        positions.append(np.column_stack([it["x_px"], it["y_px"], it["position_se_px"], it["diameter_px"],
                                          it["inside"] & it["single"]]))
        d = {"bubbles": int(it.size)}
        if b.order is not None:
            o = b.order
            d.update(psi6=o.psi6, psi6_se=o.psi6_se, fivefold=o.fivefold, sevenfold=o.sevenfold,
                     dislocations=[{"x_px": x, "y_px": y} for x, y in o.dislocations])
        details.append(d)
    tracks, summary = link(positions, values=values, max_step=max_step, memory=memory, pixel_size=pixel_size)
    summary["frame_details"] = details
    return tracks, summary


def motion(frames, values=None, durations=None, background=None, rect=None, pixel_size=None, align_rect=None,
           fit=True):
    """The walls' motion between frames (2-D arrays of one shape, or a 3-D array), each aligned to the
    first (on `align_rect` where given) and binarized as the measurement does: returns (steps,
    summary, switching). `steps` is a list of the step records (`from`, `to`, `value`, `duration_s`,
    `to_white_px`, `to_black_px`, `nucleated_px`, `wall_length_px`, `displacement_px` and its `_se`,
    `velocity_px_per_s` and its `_se` where durations are given, `drift_x_px`, `drift_y_px`,
    `reliable`, `warnings`); `summary` holds the creep fits (`creep_fixed`, `creep_free`, where `fit`)
    and the switching fields' distribution; `switching` is each pixel's last switching value (NaN
    where it never switched). `values` one a frame (None: the frame numbers), `durations` one a step
    in seconds."""
    stack = [_plane(f, f"frame {k + 1}") for k, f in enumerate(frames)]
    if len(stack) < 2:
        raise ValueError("a motion needs two frames at least")
    shape = stack[0].shape
    for k, f in enumerate(stack):
        if f.shape != shape:
            raise ValueError(f"frame {k + 1} has shape {f.shape}, the first {shape}: a motion needs one size")
    n = len(stack)
    if n * shape[0] * shape[1] > _INT32_MAX * 8:
        raise ValueError("too many pixels in all")
    data = np.ascontiguousarray(np.stack(stack), dtype=np.float64)
    dp = ctypes.POINTER(ctypes.c_double)
    ip = ctypes.POINTER(ctypes.c_int32)

    def numbers(v, count, what):
        if v is None:
            return None
        a = np.ascontiguousarray(v, dtype=float).ravel()
        if a.size != count:
            raise ValueError(f"{a.size} {what} for {count}")
        return a

    vals = numbers(values, n, "values")
    durs = numbers(durations, n - 1, "durations (one a step)")
    if durs is not None and not np.all((durs > 0) & np.isfinite(durs)):
        raise ValueError("every duration must be a number of seconds above 0")
    back = _plane(background, "background", shape) if background is not None else None
    r = (ctypes.c_int32 * 4)(*_corners(rect))
    a = (ctypes.c_int32 * 4)(*_corners(align_rect))
    um = None if pixel_size is None else _positive(pixel_size, "pixel_size")
    switching = np.zeros(shape, dtype=np.float32)
    lib = _library()
    height, width = shape
    status = lib.tovra_motion(data.ctypes.data_as(dp), n, width, height,
                              vals.ctypes.data_as(dp) if vals is not None else None,
                              durs.ctypes.data_as(dp) if durs is not None else None,
                              back.ctypes.data_as(dp) if back is not None else None,
                              ctypes.cast(r, ip), ctypes.cast(a, ip),
                              switching.ctypes.data_as(ctypes.POINTER(ctypes.c_float)))
    size = lib.tovra_motion_json(None, 0, um or 0.0, 1 if fit else 0)
    text = ctypes.create_string_buffer(size + 1)
    lib.tovra_motion_json(text, size + 1, um or 0.0, 1 if fit else 0)
    result = json.loads(text.value.decode())
    if status:
        raise ValueError(result["summary"].get("error", "the motion cannot be measured"))
    return result["steps"], result["summary"], switching
