#!/usr/bin/env python3
"""Expected values for the lens tests, worked out here independently of the C++ code.

Single-precision steps are emulated by rounding every intermediate result to float32
(exact for +, -, *, / since double carries more than twice float's precision).
Run:  python3 stitch/lens/tests/reference_values.py
and compare with the constants in the *_test.cpp files that cite this script.
"""
import math
import struct

PI = 3.1415926535898
TWO_PI = 6.2831853071796


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


# ---------------------------------------------------------------- radius ratio
def segments_a(a):
    a = f32(a)
    q = f32(a + f32(0.013))
    k = [0.0] * 48
    for i in range(30, 41):
        k[i] = q
    for i in range(0, 27):
        k[i] = a
    for i in range(27, 41):
        k[i] = min(q, f32(k[i - 1] + f32(0.0018)))
    k[47] = k[46] = a
    for i in range(45, 35, -1):
        k[i] = min(q, f32(k[i + 1] + f32(0.0018)))
    return k


def segments_b(a):
    a = f32(a)
    q = f32(f32(0.972) + f32(0.025))
    k = [0.0] * 48
    for i in range(30, 41):
        k[i] = q
    k[0] = f32(a + f32(0.001))
    k[1] = min(q, f32(k[0] + f32(0.001)))
    for i in range(2, 21):
        k[i] = k[i - 1]
    for i in (21, 22):
        k[i] = min(q, f32(k[i - 1] - f32(0.001)))
    for i in (23, 24, 25):
        k[i] = a
    for i in range(26, 40):
        k[i] = min(q, f32(k[i - 1] + f32(0.0015)))
    k[47] = k[46] = f32(a - f32(0.002))
    for i in range(45, 35, -1):
        k[i] = min(q, f32(k[i + 1] + f32(0.0015)))
    return k


def ratio(k, n):
    fine = [0.0] * 1921
    for s in range(48):
        s2 = 0 if s == 47 else s + 1
        slope = f32(f32(k[s2] - k[s]) / 40.0)
        for j in range(20, 60):
            fine[(40 * s + j) % 1920] = f32(f32((j - 20) * slope) + k[s])
    fine[1920] = fine[1919]
    step = f32(1920.0 / n)
    p = 0.0
    out = []
    for _ in range(n):
        b = int(p)
        c = f32((b + 1) - p)
        out.append(f32(f32(c * fine[b]) + f32(f32(1.0 - c) * fine[b + 1])))
        p = f32(p + step)
    return out


# ---------------------------------------------------------------- azimuths
def atan2q(y, x):
    v = math.atan(y / x)
    if x < 0 and y < 0:
        v -= PI
    if x < 0 and y > 0:
        v += PI
    return v


def parallax(phi, d, b):
    p = atan2q(d * math.sin(phi), d * math.cos(phi) - b)
    q = atan2q(250 * math.sin(phi), 250 * math.cos(phi) - b)
    return phi - (q - p)


def offset(phi, d):
    return atan2q(d * math.sin(phi) - 12.5, d * math.cos(phi))


# ---------------------------------------------------------------- control lines
KAPPA = f32(PI / 960.0)


def convert(line):
    x1, y1, x2, y2 = line
    return (f32(f32(x1 * KAPPA) - PI), f32(PI - f32(y1 * KAPPA)), f32(f32(x2 * KAPPA) - PI), f32(PI - f32(y2 * KAPPA)))


def prepare(src, dst):
    n = len(src)
    cs = [convert(l) for l in src]
    cd = [convert(l) for l in dst]
    sigma = f32((1920 // n) * KAPPA)
    ks, bs, kd, bd = [], [], [], []
    for i in range(n):
        out = []
        for line in (cs[i], cd[i]):
            xs = [line[0], line[2]]
            for j, v in enumerate(xs):
                if i == 0:
                    if sigma >= PI - v:
                        xs[j] = f32(v - TWO_PI)
                elif i == n - 1:
                    if v <= -sigma:
                        xs[j] = f32(v + TWO_PI)
            y1, y2 = line[1], line[3]
            if y1 == y2:
                k, b = 0.0, f32(0.5 * f32(xs[0] + xs[1]))
            else:
                k = f32(f32(xs[1] - xs[0]) / f32(y2 - y1))
                b = f32(xs[0] - f32(y1 * k))
            out.append((k, b))
        ks.append(out[0][0]); bs.append(out[0][1]); kd.append(out[1][0]); bd.append(out[1][1])
    for conv, k, b in ((cs, ks, bs), (cd, kd, bd)):
        for i in range(1, n):
            if b[i - 1] > b[i]:
                m = f32(f32(b[i - 1] + b[i]) / 2)
                b[i] = f32(m + 0.08)
                b[i - 1] = f32(m - 0.08)
                if conv[i - 1][1] != 0:
                    k[i - 1] = f32(f32(conv[i - 1][0] - b[i - 1]) / conv[i - 1][1])
                if conv[i][1] != 0:
                    k[i] = f32(f32(conv[i][0] - b[i]) / conv[i][1])
    return cs, cd, ks, bs, kd, bd


def warp(theta, phi, prep):
    cs, cd, ks, bs, kd, bd = prep
    theta, phi = f32(theta), f32(phi)
    n = len(cs)
    ratio_ = lambda j: f32(cd[j][1] / cs[j][3])
    found = None
    for i in range(n - 1):
        x1 = f32(f32(theta * ks[i]) + bs[i])
        x2 = f32(f32(theta * ks[i + 1]) + bs[i + 1])
        if x1 <= phi <= x2:
            found = i
            break
    a, b = (found, found + 1) if found is not None else (n - 1, 0)
    sx1 = f32(f32(theta * ks[a]) + bs[a])
    sx2 = f32(f32(theta * ks[b]) + bs[b])
    dy1 = f32(theta * ratio_(a))
    dy2 = f32(theta * ratio_(b))
    dx1 = f32(f32(kd[a] * dy1) + bd[a])
    dx2 = f32(f32(kd[b] * dy2) + bd[b])
    tp = f32(6.2831855)
    if found is None:
        if phi < sx2:
            sx1 = f32(sx1 - tp); dx1 = f32(dx1 - tp)
        else:
            sx2 = f32(sx2 + tp); dx2 = f32(dx2 + tp)
    num = f32(f32(f32(phi * f32(dx2 - dx1)) - f32(dx2 * sx1)) + f32(dx1 * sx2))
    dx = f32(num / f32(sx2 - sx1))
    out_phi = dx if dx < f32(3.1415927) else f32(dx - tp)
    dy = f32(f32(f32(f32(dx2 - dx) * dy1) + f32(f32(dx - dx1) * dy2)) / f32(dx2 - dx1))
    return out_phi, dy, found


# ---------------------------------------------------------------- Lagrange
def lagrange(angles, heights, t):
    n = len(angles)
    if t < 0:
        return 0.0
    c = 0
    for i in range(n):
        if angles[i] > t:
            break
        c = i
    lo = 0 if c < 2 else (n - 5 if c > n - 3 else c - 2)
    s = 0.0
    for i in range(lo, lo + 5):
        term = heights[i]
        for j in range(lo, lo + 5):
            if j != i:
                term *= (t - angles[j]) / (angles[i] - angles[j])
        s += term
    return s


SINGLE_H = [0.0, 0.0367427, 0.0734680, 0.1101584, 0.1467966, 0.1833652, 0.2198468, 0.2562245, 0.2924809,
            0.3285990, 0.3645621, 0.4003531, 0.4359555, 0.4713525, 0.5065277, 0.5414646, 0.5761467, 0.6105578,
            0.6446813, 0.6785009, 0.7119998, 0.7451615, 0.7779689, 0.8104046, 0.8424509, 0.8740894, 0.9053012,
            0.9360666, 0.9663647, 0.9961740, 1.0254714, 1.0542326, 1.0824317, 1.1100413, 1.1370323, 1.1633737,
            1.1890332, 1.2139765, 1.2381682, 1.2615719, 1.2841504, 1.3058667, 1.3266850, 1.3465707, 1.3654923,
            1.3834221, 1.4003375, 1.4162211, 1.4310633, 1.4448609, 1.4576191]


def main():
    ka = segments_a(1.0)
    kb = segments_b(0.98)
    print("segments A(1.0):", ["%.7g" % v for v in ka])
    print("segments B(0.98):", ["%.7g" % v for v in kb])
    r1920 = ratio(ka, 1920)
    print("A(1.0) N=1920 at 0, 10, 19, 1100, 1919:", ["%.9g" % r1920[i] for i in (0, 10, 19, 1100, 1919)])
    r180 = ratio(ka, 180)
    print("A(1.0) N=180 at 0, 45, 100, 110, 130, 179:", ["%.9g" % r180[i] for i in (0, 45, 100, 110, 130, 179)])
    r180b = ratio(kb, 180)
    print("B(0.98) N=180 at 0, 5, 80, 120, 170:", ["%.9g" % r180b[i] for i in (0, 5, 80, 120, 170)])
    r180c = ratio(segments_a(f32(1.0 - 0.003)), 180)
    print("A(0.997) N=180 at 0, 45, 100, 110, 130, 179:", ["%.9g" % r180c[i] for i in (0, 45, 100, 110, 130, 179)])
    r720 = ratio(ka, 720)
    print("A(1.0) N=720 at 0, 100, 250, 400, 440, 719:", ["%.9g" % r720[i] for i in (0, 100, 250, 400, 440, 719)])

    for phi in (-3.0, -1.0, 0.5, 2.0, 3.1):
        print("parallax(%g, 3000, 12.5) = %.15g; (1000, -12) = %.15g; offset(3000) = %.15g; offset(1000) = %.15g" % (
            phi, parallax(phi, 3000, 12.5), parallax(phi, 1000, -12.0), offset(phi, 3000), offset(phi, 1000)))

    # Three lines: the first near the right edge (wraps), the last near the left edge
    # (wraps), the middle one crossing its neighbour's intercept.
    src = [(1900.0, 300.0, 1910.0, 700.0), (960.0, 300.0, 950.0, 700.0), (20.0, 300.0, 25.0, 700.0)]
    dst = [(1905.0, 310.0, 1912.0, 690.0), (958.0, 305.0, 952.0, 695.0), (18.0, 300.0, 28.0, 700.0)]
    prep = prepare(src, dst)
    cs, cd, ks, bs, kd, bd = prep
    print("three lines: KSrc", ["%.9g" % v for v in ks], "BSrc", ["%.9g" % v for v in bs])
    print("             KDst", ["%.9g" % v for v in kd], "BDst", ["%.9g" % v for v in bd])
    for theta, phi in ((1.6, 0.2), (1.6, -2.0), (1.7, 3.1), (1.7, -3.1)):
        p, t, found = warp(theta, phi, prep)
        print("warp(theta %g, phi %g) = phi %.9g theta %.9g bracket %s" % (theta, phi, p, t, found))

    # Two lines in the middle of the panorama: azimuths beyond both wrap from the last line
    # to the first.
    src = [(600.0, 300.0, 610.0, 700.0), (1300.0, 300.0, 1290.0, 700.0)]
    dst = [(604.0, 320.0, 612.0, 680.0), (1296.0, 310.0, 1291.0, 690.0)]
    prep = prepare(src, dst)
    for theta, phi in ((1.6, 3.0), (1.6, -3.0), (1.6, 0.0)):
        p, t, found = warp(theta, phi, prep)
        print("two lines warp(theta %g, phi %g) = phi %.9g theta %.9g bracket %s" % (theta, phi, p, t, found))

    # Crossing intercepts: line 1 starts right of line 2.
    src = [(800.0, 200.0, 800.0, 700.0), (700.0, 200.0, 700.0, 700.0), (300.0, 200.0, 300.0, 700.0)]
    cs, cd, ks, bs, kd, bd = prepare(src, src)
    print("crossing: KSrc", ["%.9g" % v for v in ks], "BSrc", ["%.9g" % v for v in bs])
    conv = [convert(l) for l in src]
    print("          mean of the first two converted intercepts %.9g" % ((conv[0][0] + conv[1][0]) / 2))

    # A horizontal source line (P1.y == P2.y) between two ordinary ones.
    src = [(500.0, 300.0, 510.0, 700.0), (900.0, 480.0, 1000.0, 480.0), (1300.0, 300.0, 1290.0, 700.0)]
    prep = prepare(src, src)
    cs, cd, ks, bs, kd, bd = prep
    print("horizontal: KSrc", ["%.9g" % v for v in ks], "BSrc", ["%.9g" % v for v in bs])
    p, t, found = warp(1.5, -0.2, prep)
    print("horizontal warp(1.5, -0.2) = phi %.9g theta %.9g bracket %s" % (p, t, found))

    angles = [i * 0.1 for i in range(8)]
    heights = [0.0, 1.0, 0.0, 1.0, 0.0, 1.0, 0.0, 1.0]
    for t in (0.05, 0.15, 0.25, 0.35, 0.45, 0.55, 0.65, 0.75, 0.9):
        print("saw lagrange(%g) = %.15g" % (t, lagrange(angles, heights, t)))

    sa = [f32(i * 0.03316126) for i in range(51)]
    sh = [f32(v) for v in SINGLE_H]
    for deg in (20.0, 45.0, 96.0):
        t = deg * PI / 180
        print("single-lens height(%g deg) = %.12g" % (deg, lagrange(sa, sh, t)))


if __name__ == "__main__":
    main()
