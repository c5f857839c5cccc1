#!/usr/bin/python3
"""Independent reference of the image window's filters, written from their formulas with numpy.

Usage: imagefilters_ref.py JOBFILE
Each line of JOBFILE is a job: OP INPUT OUTPUT [key=value ...]. Images are raw: width and height as
little-endian uint32, then R, G, B, A bytes row by row. OP is one of bcg, grey, negative, blur, contour,
convolve (kernel=size:w,w,...), or kernel-blur / kernel-contour, which write the kernel as text
("size w w w ...") to OUTPUT instead of filtering (INPUT is then "-").
"""
import math
import sys

import numpy as np


def read_raw(path):
    with open(path, "rb") as f:
        data = f.read()
    w, h = np.frombuffer(data[:8], dtype="<u4")
    px = np.frombuffer(data[8:], dtype=np.uint8).reshape(int(h), int(w), 4)
    return px.astype(np.int64)


def write_raw(path, px):
    h, w = px.shape[:2]
    with open(path, "wb") as f:
        f.write(np.array([w, h], dtype="<u4").tobytes())
        f.write(px.astype(np.uint8).tobytes())


def clamp_round(v):
    # np.rint rounds halves to even; clip afterwards as the formulas say.
    return np.clip(np.rint(v), 0, 255).astype(np.int64)


def bcg_table(b, c, g):
    t = []
    for i in range(256):
        x = i / 255.0
        if x == 0:
            d = 0.0
        elif g == 0:
            d = 1.0
        else:
            d = x ** g
        f = (d * 255 - 127.5) * c + 127.5 + b * 2.55
        t.append(min(255, max(0, round(f))))  # Python's round is half to even
    return np.array(t, dtype=np.int64)


def bcg(px, b, c, g, use_y):
    t = bcg_table(b, c, g)
    out = px.copy()
    if not use_y:
        out[..., :3] = t[px[..., :3]]
        return out
    r = px[..., 0] / 255.0
    gg = px[..., 1] / 255.0
    bb = px[..., 2] / 255.0
    Y = 0.299 * r + 0.587 * gg + 0.114 * bb
    U = -0.169 * r - 0.331 * gg + 0.5 * bb
    V = 0.5 * r - 0.419 * gg - 0.081 * bb
    y = 255 * Y
    k = np.floor(y).astype(np.int64)
    frac = y - k
    top = k >= 255
    kc = np.minimum(k, 254)
    inter = ((1 - frac) * t[kc] + frac * t[kc + 1]) / 255
    y2 = np.where(top, t[np.minimum(k, 255)] / 255.0, inter)
    out[..., 0] = clamp_round((y2 + 1.403 * V) * 255)
    out[..., 1] = clamp_round((y2 - 0.344 * U - 0.714 * V) * 255)
    out[..., 2] = clamp_round((y2 + 1.773 * U) * 255)
    return out


def grey(px, weighted):
    r, g, b = px[..., 0], px[..., 1], px[..., 2]
    w = (897 * r + 1761 * g + 342 * b) // 1000 if weighted else r + g + b
    out = px.copy()
    for ch in range(3):
        out[..., ch] = w // 3
    return out


def negative(px):
    out = px.copy()
    out[..., :3] = 255 - px[..., :3]
    return out


def blur_kernel(r, p):
    size = 2 * round(r) + 1
    h = size // 2
    k = np.zeros((size, size), dtype=np.int64)
    for a in range(360):
        rad = a * math.pi / 180.0
        k[round(r * math.sin(rad)) + h, round(r * math.cos(rad)) + h] += 1
    k[h, h] += round((100 / p - 1) * 360)
    return k


def contour_kernel(sigma, shape, use_distance):
    if shape == "gaussian":
        g = lambda t: math.exp(-(t * t) / (2 * sigma * sigma)) / (sigma * math.sqrt(2 * math.pi))
    elif shape == "tent":
        a = math.sqrt(6) * sigma
        g = lambda t: 1 / a - abs(t) / (a * a) if abs(t) <= a else 0.0
    else:
        a = math.sqrt(3) * sigma
        g = lambda t: 1 / (2 * a) if abs(t) <= a else 0.0
    g0 = g(0)
    if shape == "rect":
        L = 0
        while not g(L) <= 0:
            L += 1
        h = max(0, L - 2)  # size 2L - 3, at least the centre
    else:
        L = 0
        while not round(16 * g(L) / g0) <= 0:
            L += 1
        h = L - 1
    size = 2 * h + 1
    k = np.zeros((size, size), dtype=np.int64)
    for y in range(-h, h + 1):
        for x in range(-h, h + 1):
            if shape == "rect":
                v = g(math.sqrt(x * x + y * y)) if use_distance else g(x) * g(y)
                w = 1 if v > 0 else 0
            elif use_distance:
                w = round(16 * g(math.sqrt(x * x + y * y)) / g0)
            else:
                w = round(16 * g(x) * g(y) / (g0 * g0))
            k[y + h, x + h] = w
    s = int(k.sum())
    former = int(k[h, h])
    k = -k
    k[h, h] = s + 1 - former
    return k


def convolve(px, k, factor, bias):
    H, W = px.shape[:2]
    size = k.shape[0]
    h = size // 2
    sums = np.zeros((H, W, 3), dtype=np.int64)
    n = np.zeros((H, W), dtype=np.int64)
    any_cell = np.zeros((H, W), dtype=bool)
    for ky in range(size):
        for kx in range(size):
            w = int(k[ky, kx])
            if w == 0:
                continue
            dy, dx = ky - h, kx - h
            # Output rows/columns whose neighbour (y+dy, x+dx) lies inside the picture.
            y0, y1 = max(0, -dy), min(H, H - dy)
            x0, x1 = max(0, -dx), min(W, W - dx)
            if y0 >= y1 or x0 >= x1:
                continue
            sums[y0:y1, x0:x1] += w * px[y0 + dy:y1 + dy, x0 + dx:x1 + dx, :3]
            n[y0:y1, x0:x1] += w
            any_cell[y0:y1, x0:x1] = True
    nz = n != 0
    q = np.where(nz[..., None], sums / np.where(nz, n, 1)[..., None], sums.astype(np.float64))
    out = px.copy()
    res = clamp_round(factor * q + bias * 2.55)
    keep = ~any_cell
    res[keep] = px[keep][:, :3]
    out[..., :3] = res
    return out


def main():
    for line in open(sys.argv[1]):
        parts = line.split()
        if not parts:
            continue
        op, src, dst = parts[:3]
        kv = dict(p.split("=", 1) for p in parts[3:])
        if op == "kernel-blur":
            k = blur_kernel(float(kv["r"]), int(kv["p"]))
        elif op == "kernel-contour":
            k = contour_kernel(float(kv["sigma"]), kv["shape"], kv["dist"] == "1")
        if op.startswith("kernel-"):
            with open(dst, "w") as f:
                f.write(" ".join(str(v) for v in [k.shape[0]] + list(k.flatten())) + "\n")
            continue
        px = read_raw(src)
        if op == "bcg":
            out = bcg(px, int(kv["b"]), float(kv["c"]), float(kv["g"]), kv["y"] == "1")
        elif op == "grey":
            out = grey(px, kv["w"] == "1")
        elif op == "negative":
            out = negative(px)
        elif op == "blur":
            out = convolve(px, blur_kernel(float(kv["r"]), int(kv["p"])), 1.0, 0.0)
        elif op == "contour":
            p = int(kv["p"])
            black = kv["black"] == "1"
            k = contour_kernel(float(kv["sigma"]), kv["shape"], kv["dist"] == "1")
            out = convolve(px, k, (-p if black else p) / 100.0, 0.0 if black else 100.0)
        else:
            sys.exit("unknown op " + op)
        write_raw(dst, out)


if __name__ == "__main__":
    main()
