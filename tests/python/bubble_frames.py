"""Generated frames of bubbles with known truth, for the tracking's tests and the guide's pictures:
discs drawn with their exact coverage of each pixel (4 x 4 samples), blurred by a Gaussian point
spread and given noise; Brownian bubbles with a hard core; triangular lattices, perfect or with one
edge dislocation."""
import numpy as np


def picture(centres, diameters, size, blur=1.0, noise=0.05, rng=None, black=True):
    """A grey picture (size = (height, width)) of the discs at `centres` (x, y: columns and rows,
    the top left pixel's centre at 0, 0), levels 0.25 (bubbles) and 0.75, as uint16."""
    h, w = size
    cover = np.zeros((h, w))
    s = 4
    offsets = (np.arange(s) + 0.5) / s - 0.5
    for (x, y), d in zip(centres, np.broadcast_to(diameters, (len(centres),))):
        r = d / 2
        x0, x1 = max(0, int(np.floor(x - r - 1))), min(w, int(np.ceil(x + r + 2)))
        y0, y1 = max(0, int(np.floor(y - r - 1))), min(h, int(np.ceil(y + r + 2)))
        if x0 >= x1 or y0 >= y1:
            continue
        yy = (np.arange(y0, y1)[:, None] + offsets[None, :]).reshape(-1)
        xx = (np.arange(x0, x1)[:, None] + offsets[None, :]).reshape(-1)
        inside = ((xx[None, :] - x) ** 2 + (yy[:, None] - y) ** 2) < r * r
        patch = inside.reshape(y1 - y0, s, x1 - x0, s).mean(axis=(1, 3))
        cover[y0:y1, x0:x1] = np.maximum(cover[y0:y1, x0:x1], patch)
    image = 0.75 - 0.5 * cover if black else 0.25 + 0.5 * cover
    if blur > 0:
        from scipy import ndimage
        image = ndimage.gaussian_filter(image, blur, mode="nearest")
    if noise > 0:
        rng = rng if rng is not None else np.random.default_rng(0)
        image = image + rng.normal(0, noise, image.shape)
    return np.clip(np.round(image * 40000), 0, 65535).astype(np.uint16)


def hard_core_points(rng, count, size, spacing):
    """Up to `count` points in the box (width, height) no two closer than `spacing`: darts thrown
    in batches, each kept where it is far enough from those kept before it."""
    from scipy.spatial import cKDTree
    w, h = size
    kept = np.zeros((0, 2))
    for _ in range(200):
        darts = rng.uniform([0, 0], [w, h], (4 * count, 2))
        if len(kept):
            far = cKDTree(kept).query(darts, distance_upper_bound=spacing)[0] > spacing
            darts = darts[far]
        chosen = []
        for p in darts:
            if chosen and np.min(np.hypot(*(np.asarray(chosen) - p).T)) <= spacing:
                continue
            chosen.append(p)
            if len(kept) + len(chosen) == count:
                break
        if chosen:
            kept = np.concatenate([kept, np.asarray(chosen)])
        if len(kept) >= count:
            break
    return kept[:count]


def brownian(rng, start, frames, sigma, spacing=0.0, drift=(0.0, 0.0)):
    """Positions over `frames` frames (frames, n, 2): Gaussian steps of `sigma` a coordinate, a move
    that would bring two closer than `spacing` refused (the bubbles repel), plus a common drift."""
    from scipy.spatial import cKDTree
    pos = np.array(start, dtype=float)
    out = [pos.copy()]
    for _ in range(frames - 1):
        moved = pos + rng.normal(0, sigma, pos.shape)
        if spacing > 0:
            for _ in range(4):
                pairs = cKDTree(moved).query_pairs(spacing, output_type="ndarray")
                if len(pairs) == 0:
                    break
                back = np.unique(pairs.ravel())
                moved[back] = pos[back]
        pos = moved
        out.append(pos.copy())
    return np.asarray(out) + np.arange(frames)[:, None, None] * np.asarray(drift)[None, None, :]


def triangular(size, spacing, origin=(0.0, 0.0), dislocation=None, margin=0.0):
    """The sites of a triangular lattice covering the box (width, height) with `margin` beyond it;
    with `dislocation` = (x, y) the continuum displacement of one edge dislocation of Burgers vector
    one spacing along x there (Poisson's ratio 1/3)."""
    w, h = size
    rows = np.arange(-2, int((h + 2 * margin) / (spacing * np.sqrt(3) / 2)) + 3)
    points = []
    for j in rows:
        y = j * spacing * np.sqrt(3) / 2 - margin + origin[1]
        shift = (j % 2) * spacing / 2
        for i in np.arange(-2, int((w + 2 * margin) / spacing) + 3):
            points.append((i * spacing + shift - margin + origin[0], y))
    p = np.asarray(points, dtype=float)
    if dislocation is not None:
        nu, b = 1 / 3, spacing
        dx, dy = p[:, 0] - dislocation[0], p[:, 1] - dislocation[1]
        r2 = dx * dx + dy * dy + 1e-9
        theta = np.arctan2(dy, dx)
        ux = b / (2 * np.pi) * (theta + dx * dy / (2 * (1 - nu) * r2))
        uy = -b / (2 * np.pi) * ((1 - 2 * nu) / (4 * (1 - nu)) * np.log(r2) + (dx * dx - dy * dy) / (4 * (1 - nu) * r2))
        p = p + np.column_stack([ux, uy])
    keep = (p[:, 0] > -spacing) & (p[:, 0] < w + spacing) & (p[:, 1] > -spacing) & (p[:, 1] < h + spacing)
    return p[keep]


def link_errors(tracks, path):
    """Of the links `tracks` (a tracking's rows, TRACK_DTYPE) make between frames of the places `path`
    (frames, n, 2: bubble i the same in every frame), how many there are and how many join two
    different bubbles."""
    ids = []
    for k in range(len(path)):
        rows = tracks[tracks["frame"] == k + 1]
        key = {(r["x_px"], r["y_px"]): r["track_id"] for r in rows}
        ids.append([key[(x, y)] for x, y in path[k]])
    links = wrong = 0
    for k in range(1, len(path)):
        before = {t: i for i, t in enumerate(ids[k - 1])}
        for i, t in enumerate(ids[k]):
            if t in before:
                links += 1
                wrong += before[t] != i
    return links, wrong
