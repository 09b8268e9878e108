#!/usr/bin/env python3
"""Whole-process benchmark of pictrim-cli at every ratio against two floors
and, where installed, Pillow and ImageMagick. Runs alternate between the
commands; prints medians of wall time and peak memory, and ratios.

The floors: copying a file as large as the source (or, at 200 %, as the
result) with cat; and a safe durable replace, which reads the source,
writes as many bytes as the result to a new file in the destination's
folder (dd, 4 MiB at a time), flushes it, renames it over the destination
and flushes the folder (what pictrim-cli does, without the picture). Give --dir a folder on the
file system to measure (ext4, tmpfs, ...).

    python3 bench/bench.py [--cli build/cli/pictrim-cli] [--runs 5] [--dir DIR] [--ratios 50,200]
    python3 bench/bench.py --batch [--runs 5] [--dir DIR] [--wine-cli build-win/cli/pictrim-cli.exe]

--batch times a folder of 1000 files of 640 x 480 at 50 % instead: the batch
form against the desktop program's batch window (`pictrim --execute --yes -t
OUT FOLDER`, off screen without a display; --window names it), a Python loop
over Pillow, ImageMagick's mogrify, and two floors: reading every source and
durably writing as many bytes as the results, and the disk alone, those
bytes written to one file and flushed (no batch that keeps every file
durable ends sooner). Each command is shown with its processor time too,
which a busy machine changes much less than the wall time.
--wine-cli adds the Windows build run under Wine on the same files (start
a persistent server first, `wineserver -p`, so that Wine's own start-up is
not what is timed).
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time


def make_bmp(path, width, height):
    if os.path.exists(path):
        return
    stride = (3 * width + 3) // 4 * 4
    size = stride * height
    header = b"BM" + struct.pack("<IHHI", 54 + size, 0, 0, 54)
    header += struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, size, 2835, 2835, 0, 0)
    # A smooth gradient with noise: like a photograph, not like a flat fill.
    row_base = bytes((x * 255 // max(1, 3 * width - 1)) for x in range(3 * width)) + b"\0" * (stride - 3 * width)
    with open(path, "wb") as f:
        f.write(header)
        noise = os.urandom(stride * 64)
        for y in range(height):
            start = (y % 64) * stride
            row = bytes((a + (b & 15) + y) & 0xFF for a, b in zip(row_base, noise[start:start + stride]))
            f.write(row[: 3 * width] + b"\0" * (stride - 3 * width))


GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def run_once(argv, shell=False):
    """Wall seconds, peak memory (MiB) and processor seconds (user and
    system, every thread and child) of one run. The peak comes from GNU
    time where installed: a child's own rusage also counts the memory of this
    Python process from before the exec."""
    if shell:
        argv = ["/bin/sh", "-c", argv]
    if GNU_TIME:
        argv = [GNU_TIME, "-f", "@maxrss %M"] + argv
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"failed ({code}): {argv}\n{err}")
    peak_kib = usage.ru_maxrss
    for line in err.splitlines():
        if line.startswith("@maxrss "):
            peak_kib = int(line.split()[1])
    return wall, peak_kib / 1024.0, usage.ru_utime + usage.ru_stime


def pillow_python():
    """A Python that has Pillow: this one, or Debian's (python3-pil)."""
    for candidate in (sys.executable, "/usr/bin/python3"):
        if os.path.exists(candidate) and subprocess.run([candidate, "-c", "import PIL"], capture_output=True).returncode == 0:
            return candidate
    return None


def scenario(name, commands, runs, base_label="cat copy"):
    results = {label: ([], [], []) for label, _ in commands}
    for _ in range(runs):
        for label, argv in commands:
            # Each command starts with nothing of the one before left to write
            # back, which would slow the flushes of whichever comes next.
            os.sync()
            for kept, value in zip(results[label], run_once(argv, shell=isinstance(argv, str))):
                kept.append(value)
    # On a shared machine the wall time follows the load; the processor
    # time much less so.
    print(f"\n{name} (median of {runs}, load {os.getloadavg()[0]:.1f})")
    print(f"  {'command':<34} {'wall s':>8} {'cpu s':>7} {'peak MiB':>9} {'x ' + base_label.split()[0]:>7}")
    base = statistics.median(results[base_label][0])
    medians, cpus = {}, {}
    for label, _ in commands:
        wall, mem, cpu = (statistics.median(values) for values in results[label])
        medians[label], cpus[label] = wall, cpu
        print(f"  {label:<34} {wall:8.3f} {cpu:7.3f} {mem:9.1f} {wall / base:7.2f}")
    return medians, cpus


FLOOR = """
import os, sys
src, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
for name in sorted(os.listdir(src)):
    with open(os.path.join(src, name), "rb") as f:
        data = f.read()
    with open(os.path.join(out, name), "wb") as f:
        f.write(data[: len(data) // 4])
os.sync()
"""

PILLOW_LOOP = """
import os, sys
from PIL import Image
src, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
for name in sorted(os.listdir(src)):
    Image.open(os.path.join(src, name)).reduce(2).save(os.path.join(out, name))
"""


def batch(cli, work, runs, wine_cli=None, window=None):
    src = os.path.join(work, "batch-src")
    os.makedirs(src, exist_ok=True)
    first = os.path.join(src, "p0000.bmp")
    make_bmp(first, 640, 480)
    for i in range(1, 1000):
        path = os.path.join(src, f"p{i:04d}.bmp")
        if not os.path.exists(path):
            shutil.copyfile(first, path)
    out = lambda label: os.path.join(work, "batch-out-" + label)
    # The disk's own floor: the results' bytes written to one file and
    # flushed, nothing read or converted.
    written = 1000 * (54 + 320 * 3 * 240)
    os.makedirs(out("disk"), exist_ok=True)
    disk = (f"dd if=/dev/zero of='{out('disk')}/all.bin' bs=4M count={written} iflag=count_bytes "
            f"conv=fdatasync status=none")
    commands = [("floor", [sys.executable, "-c", FLOOR, src, out("floor")]), ("durable write only", disk),
                ("pictrim-cli -t (batch)", [cli, "-q", "--yes", "-t", out("pictrim"), src, "50%"])]
    if window:
        # The desktop program's batch window, pressing 実行 itself and
        # closing at the end; drawn off screen unless a display is given.
        commands.append(("pictrim batch window", [window, "--execute", "--yes", "-t", out("window"), src]))
    if wine_cli:
        # Through the wrapper the tests use: Wine's background programs would
        # otherwise keep the output pipe open.
        wine = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake", "wine-run.sh")
        commands.append(("pictrim-cli.exe under Wine", [wine, wine_cli, "-q", "--yes", "-t", out("wine"), src, "50%"]))
    pillow = pillow_python()
    if pillow:
        commands.append(("Pillow loop reduce(2)", [pillow, "-c", PILLOW_LOOP, src, out("pillow")]))
    if shutil.which("mogrify-im6.q16"):
        os.makedirs(out("magick"), exist_ok=True)
        commands.append(("mogrify -scale 50%", f"mogrify-im6.q16 -path '{out('magick')}' -scale 50% '{src}'/*.bmp"))
    r, cpu = scenario("1000 files of 640 x 480 at 50 %", commands, runs, base_label="floor")
    mine = r["pictrim-cli -t (batch)"]
    print(f"\n  pictrim / floor = {mine / r['floor']:.2f}, pictrim / durable write = {mine / r['durable write only']:.2f}", end="")
    if window:
        print(f", window / pictrim-cli = {r['pictrim batch window'] / mine:.2f}", end="")
    if wine_cli:
        print(f", Wine / Linux = {r['pictrim-cli.exe under Wine'] / mine:.2f}", end="")
    if pillow:
        # The loop runs on one core and never waits for the disk: on an idle
        # machine it takes its processor time, and a durable batch at least
        # the disk's time.
        pil = r['Pillow loop reduce(2)']
        best = cpu['Pillow loop reduce(2)'] / r['durable write only']
        print(f", Pillow / pictrim = {pil / mine:.2f} (durable, idle: at most {best:.2f})", end="")
    print()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(os.path.dirname(__file__), "..", "build", "cli", "pictrim-cli"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--dir", default=None, help="where to keep the sources (default: a temporary folder)")
    parser.add_argument("--sizes", action="store_true", help="also print the cost at 1, 4, 16 and 64 megapixels")
    parser.add_argument("--ratios", default="5,10,20,25,33,50,200",
                        type=lambda text: [int(p) for p in text.replace("%", "").split(",")])
    parser.add_argument("--batch", action="store_true", help="time a folder of 1000 small files instead")
    parser.add_argument("--wine-cli", default=None, help="with --batch: also time this pictrim-cli.exe under Wine")
    parser.add_argument("--window", default=os.path.join(os.path.dirname(__file__), "..", "build", "ui", "pictrim"),
                        help="with --batch: the desktop program whose batch window is timed too, where built")
    args = parser.parse_args()
    cli = os.path.abspath(args.cli)
    if not os.access(cli, os.X_OK):
        sys.exit(f"no pictrim-cli at {cli}: build it first (cmake --build build)")

    work = args.dir or tempfile.mkdtemp(prefix="pictrim-bench-")
    os.makedirs(work, exist_ok=True)
    if args.batch:
        window = os.path.abspath(args.window)
        if not os.access(window, os.X_OK):
            window = None
        elif not os.environ.get("DISPLAY") and not os.environ.get("WAYLAND_DISPLAY"):
            os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
        batch(cli, work, args.runs, args.wine_cli and os.path.abspath(args.wine_cli), window)
        if not args.dir:
            shutil.rmtree(work)
        return
    big = os.path.join(work, "src-8000x6000.bmp")
    mid = os.path.join(work, "src-4000x3000.bmp")
    make_bmp(big, 8000, 6000)
    make_bmp(mid, 4000, 3000)
    out = os.path.join(work, "out.bmp")
    copy = os.path.join(work, "copy.bmp")
    pillow = pillow_python()
    magick = shutil.which("convert-im6.q16")  # Debian's ImageMagick, by the name no other program takes

    def result_bytes(width, height, percent):
        w, h = (2 * width, 2 * height) if percent == 200 else (width * percent // (99 if percent == 33 else 100),
                                                                  height * percent // (99 if percent == 33 else 100))
        return 54 + (3 * w + w % 4) * h

    rows = []
    for percent in args.ratios:
        src, (w, h) = (mid, (4000, 3000)) if percent == 200 else (big, (8000, 6000))
        step = {5: 20, 10: 10, 20: 5, 25: 4, 33: 3, 50: 2}.get(percent)
        durable = (f"dd if='{src}' of=/dev/null bs=4M status=none && dd if='{big}' of='{out}.new' bs=4M "
                   f"count={result_bytes(w, h, percent)} iflag=count_bytes conv=fdatasync status=none && "
                   f"mv '{out}.new' '{out}' && sync '{work}'")
        c = [("cat copy", f"cat '{big if percent == 200 else src}' > '{copy}'"), ("durable replace", durable),
             (f"pictrim-cli {percent}%", [cli, "--yes", src, out, str(percent)])]
        pil_expr = f"reduce({step})" if step else "resize((8000, 6000), Image.BILINEAR)"
        if pillow:
            c.append((f"Pillow {pil_expr}", [pillow, "-c",
                      f"from PIL import Image; im = Image.open('{src}'); im.{pil_expr}.save('{out}')"]))
        if magick and step:
            c.append((f"ImageMagick -scale {percent}%", [magick, src, "-scale", f"{percent}%", out]))
        name = f"{w} x {h} at {percent} %" + (" (cat copies an 8000 x 6000 file)" if percent == 200 else "")
        rows.append((percent, scenario(name, c, args.runs)[0], f"Pillow {pil_expr}"))

    print("\nratios (medians)")
    for percent, r, pil in rows:
        mine = r[f"pictrim-cli {percent}%"]
        line = f"  {percent:>4} %: pictrim / durable replace = {mine / r['durable replace']:.2f}, pictrim / cat = {mine / r['cat copy']:.2f}"
        if pil in r:
            line += f", Pillow / pictrim = {r[pil] / mine:.2f}"
        print(line)

    if args.sizes:
        print("\ncost by size, 50 % (median of 3)")
        for mp, (w, h) in ((1, (1000, 1000)), (4, (2000, 2000)), (16, (4000, 4000)), (64, (8000, 8000))):
            src = os.path.join(work, f"src-{w}x{h}.bmp")
            make_bmp(src, w, h)
            walls = sorted(run_once([cli, "--yes", src, out, "50"])[0] for _ in range(3))
            print(f"  {mp:>3} MP: {walls[1]:.3f} s, {walls[1] / mp * 1000:.1f} ms per megapixel")

    if not args.dir:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
