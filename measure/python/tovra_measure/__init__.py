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
Pillow PNG, TIFF, BMP, JPEG and GIF). A measurement that cannot be made has `error` set and no
numbers; arguments that cannot describe an image raise ValueError.

The library is found, in this order, at TOVRA_MEASURE_LIB, beside this package, in the build
folder of the checkout the package sits in (build/default/bin, then any build/*/bin), and where
the system's loader looks (an installed Tovra)."""
import ctypes
import dataclasses
import glob
import json
import os
import typing

import numpy as np

__all__ = ["measure", "measure_file", "Measurement", "Warning", "Bubbles", "Grain", "Band", "library_path"]

_INT32_MAX = 2**31 - 1
_LIBRARY = "libTovraMeasure.so"


@dataclasses.dataclass(frozen=True)
class Warning:  # noqa: A001 - the record's own word
    code: str
    message: str
    serious: bool


@dataclasses.dataclass(frozen=True)
class Bubbles:
    colour: str
    count: int
    count_inside: int
    density_per_px2: float
    mean_diameter_px: float
    sd_diameter_px: float
    mean_nearest_neighbour_px: float
    density_per_um2: typing.Optional[float] = None
    mean_diameter_um: typing.Optional[float] = None
    sd_diameter_um: typing.Optional[float] = None
    mean_nearest_neighbour_um: typing.Optional[float] = None


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
            fields["bubbles"] = Bubbles(**fields["bubbles"])
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


def library_path():
    """Where the library is taken from (see the module's description)."""
    given = os.environ.get("TOVRA_MEASURE_LIB")
    if given:
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
            # Through a link, from the library's own folder, where the libraries it needs sit.
            lib = ctypes.CDLL(os.path.realpath(path) if os.path.exists(path) else path)
        except OSError as e:
            raise OSError(
                f"{e}. Build Tovra (make test), install it, or set TOVRA_MEASURE_LIB to libTovraMeasure.so"
            ) from None
        dp, i32 = ctypes.POINTER(ctypes.c_double), ctypes.c_int32
        lib.tovra_measure.argtypes = [dp, i32, i32, dp, i32, i32, i32, i32, ctypes.POINTER(_Measurement)]
        lib.tovra_measure.restype = i32
        lib.tovra_measure_record.argtypes = [ctypes.c_char_p, i32, ctypes.c_double]
        lib.tovra_measure_record.restype = i32
        _libraries[path] = lib
    return _libraries[path]


def _plane(values, what, shape=None):
    """A C-ordered float64 array: NumPy converts any dtype in one pass, without Python lists."""
    try:
        a = np.ascontiguousarray(values, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"{what} must be a 2-D array of numbers") from None
    if a.ndim != 2 or a.shape[0] < 1 or a.shape[1] < 1:
        raise ValueError(f"{what} must be a 2-D array of numbers, not of shape {a.shape}")
    if shape is not None and a.shape != shape:
        raise ValueError(f"{what} has shape {a.shape}, the pixels {shape}")
    if a.shape[0] * a.shape[1] > _INT32_MAX:
        raise ValueError(f"{a.shape[1]} x {a.shape[0]} pixels are more than the library takes")
    return a


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


def read_picture(path, size=None):
    """A picture file as a 2-D array: raw (8 bits, or 16 little-endian, with size=(width,
    height)), CSV, .npy, or through Pillow any picture it decodes (16-bit grey kept)."""
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
    try:
        from PIL import Image
    except ImportError:
        raise ValueError(f"{path}: reading {suffix} pictures needs Pillow (python3-pil)") from None
    with Image.open(path) as picture:
        if picture.mode not in ("L", "I;16", "I;16B", "I", "F"):
            picture = picture.convert("L")
        return np.asarray(picture)


def measure_file(path, background=None, rect=None, pixel_size=None, size=None):
    """Reads a picture (see read_picture) and measures it; `background` is a file too."""
    pixels = read_picture(path, size)
    back = read_picture(background, size) if background is not None else None
    return measure(pixels, background=back, rect=rect, pixel_size=pixel_size)
