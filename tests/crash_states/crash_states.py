#!/usr/bin/env python3
"""pictrim-cli's promises checked in every state a power cut could leave.

    crash_states.py PICTRIM_CLI [ROW...]

Runs pictrim-cli under strace for each row below, rebuilds the file system
from the trace (fs_model.py) and checks every crash state a conservative
model allows at every point of the run (crash_check.py): each destination
absent (where it was), the old file or the complete new one, byte for
byte; each source untouched; each file reported done the complete new file
from that moment on. The expected bytes come from the same run made first
without strace in a folder of its own. The same check runs on writers that
are wrong on purpose (wrong_writers.py), each of which it must catch.

Exit status 0 when every row holds, 1 when one does not, 77 (skipped)
when strace cannot trace here.
"""

import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from crash_check import LIMIT, CrashStates  # noqa: E402
from fs_model import Model  # noqa: E402
from strace_log import TraceError, read_log, run_traced, tracing_works  # noqa: E402

SKIPPED = 77


def bmp(width, height, seed):
    rng = random.Random(seed)
    stride = (3 * width + 3) // 4 * 4
    rows = b"".join(rng.randbytes(3 * width) + bytes(stride - 3 * width) for _ in range(height))
    header = b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54)
    return header + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0) + rows


def pictures(*paths, old=()):
    """A set-up: the sources at `paths`, and at `old` files to be replaced."""
    def make(root):
        for i, path in enumerate(paths):
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(bmp(40 + 4 * i, 30 + 2 * i, i))
        for path in old:
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "wb") as f:
                f.write(b"the old file\n")
    return make


def many(folder, count):
    return [f"{folder}/p{i:02}.bmp" for i in range(count)]


class Row:
    def __init__(self, name, setup, args, single=None, interrupt=False, fat=False, wrong=None, loud=False,
                 inject=None, preload=None, reported=None):
        self.name, self.setup, self.args, self.single = name, setup, args, single
        self.interrupt, self.fat, self.wrong = interrupt, fat, wrong
        self.loud = loud  # the check must refuse the trace as not understood
        self.inject = inject  # strace's inject= for the calls it makes fail
        self.preload = preload  # a C file beside this one, built and preloaded into the run
        self.reported = reported  # how many completion lines the run must print, if it matters


FIRST_FOLDER_FLUSH_FAILS = "first_folder_flush_fails.c"

ROWS = [
    Row("one file, new", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"], single="b.bmp"),
    Row("one file, replacing (--yes)", pictures("a.bmp", old=["b.bmp"]), ["--yes", "a.bmp", "b.bmp", "200"],
        single="b.bmp"),
    Row("batch into a new -t folder 3 deep", pictures(*many("in", 4)), ["-t", "out/x/y", "in", "50"]),
    Row("-R over a tree", pictures("photos/a.bmp", "photos/sub/b.bmp", "photos/sub/deeper/c.bmp"),
        ["-R", "-t", "small", "photos", "25"]),
    Row("--suffix beside the sources", pictures(*many("in", 3), old=["in/p01_half.bmp"]),
        ["--yes", "--suffix", "_half"] + many("in", 3) + ["50"]),
    Row("-j 2", pictures(*many("in", 6)), ["-j", "2", "-t", "out", "in", "50"]),
    Row("batch stopped by SIGINT", pictures(*many("in", 16)), ["-j", "1", "-t", "out", "in", "50"], interrupt=True),
    # A failed flush may fail the files or be made good later; either way no
    # file may be reported done before its names are durable.
    Row("one file, folder flush failing (EIO)", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"], single="b.bmp",
        inject="fsync:error=EIO", reported=0),
    Row("folder flushes failing (EIO), new -t folder", pictures(*many("in", 3)), ["-t", "out/x", "in", "50"],
        inject="fsync:error=EIO"),
    # Only the flush of out in the root fails; out/x is made and flushed in
    # out by a later job, and a file there is written and flushed. Its name
    # hangs on out's, which is not known to survive: nothing may be done.
    Row("first folder flush failing (EIO), new -t folder", pictures(*many("in", 3)), ["-t", "out/x", "in", "50"],
        preload=FIRST_FOLDER_FLUSH_FAILS, reported=0),
    Row("folder flushes failing (EIO), existing folder", pictures(*many("in", 3), old=["out/p01.bmp"]),
        ["--yes", "-t", "out", "in", "50"], inject="fsync:error=EIO"),
    # A batch flushes the whole file system (local disks) and then asks each
    # file whether a write of it failed; where that flush fails, each file
    # is flushed on its own.
    Row("data flushes failing (EIO)", pictures(*many("in", 3), old=["out/p01.bmp"]), ["--yes", "-t", "out", "in", "50"],
        inject="fdatasync,syncfs:error=EIO", reported=0),
    Row("file system flush failing (EIO)", pictures(*many("in", 3), old=["out/p01.bmp"]),
        ["--yes", "-t", "out", "in", "50"], inject="syncfs:error=EIO", reported=3),
    Row("a file's writes failing on their way (EIO)", pictures(*many("in", 3)), ["-t", "out", "in", "50"],
        inject="sync_file_range:error=EIO", reported=0),
    Row("FAT fallback (fusefat)", pictures(*many("in", 3), old=["fat/out/p01.bmp"]),
        ["--yes", "-t", "fat/out", "in", "50"], fat=True),
]

WRONG = [
    Row("wrong: truncate and rewrite in place", pictures("a.bmp", old=["b.bmp"]), ["--yes", "a.bmp", "b.bmp", "50"],
        wrong="truncate_in_place"),
    Row("wrong: rename without flushing the data", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"],
        wrong="rename_unflushed"),
    Row("wrong: no folder flush after the rename", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"],
        wrong="no_folder_flush"),
    Row("wrong: new folder never flushed in its parent", pictures("a.bmp"), ["-t", "new/sub", "a.bmp", "50"],
        wrong="unflushed_new_folder"),
    Row("wrong: completion line before the flush", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"],
        wrong="early_completion"),
    Row("wrong: a failed folder flush tried again", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"],
        wrong="folder_flush_retried", preload=FIRST_FOLDER_FLUSH_FAILS),
    Row("wrong: file system flushed before the last write", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"],
        wrong="file_system_flushed_early"),
    Row("wrong: written through a shared mapping", pictures("a.bmp"), ["a.bmp", "b.bmp", "50"],
        wrong="mapped_write", loud=True),
]


# SIGINT comes with the first completion line. strace holds every write
# back 30 ms, so that the batch is still converting then: 15 files are
# over a second of work, against the few milliseconds the signal takes.
SLOW_WRITES = ["-e", "inject=write,pwrite64,writev,pwritev,pwritev2:delay_enter=30000"]


def interrupt_at_first_completion(strace_pid, line):
    if "完了しました".encode() not in line:
        return
    with open(f"/proc/{strace_pid}/task/{strace_pid}/children") as f:
        children = f.read().split()
    if children:
        os.kill(int(children[0]), signal.SIGINT)


def files_under(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def mount_fat(root):
    """Mounts a fresh FAT image at root/fat; None, or why it cannot."""
    for tool in ("mkfs.vfat", "fusefat", "fusermount"):
        if shutil.which(tool) is None:
            return f"no {tool}"
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    os.mkdir(os.path.join(root, "fat"))
    made = subprocess.run(f"mkfs.vfat -C {root}/fat.img 4096 && fusefat -o rw+ {root}/fat.img {root}/fat",
                          shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return None if made.returncode == 0 else "fusefat failed: " + made.stderr.strip()


def build_library(source, library):
    """Builds a preloadable library with the system's C compiler; None, or why it cannot."""
    cc = shutil.which(os.environ.get("CC", "cc"))
    if cc is None:
        return "no C compiler to build " + os.path.basename(source)
    made = subprocess.run([cc, "-shared", "-fPIC", "-O2", "-o", library, source], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    return None if made.returncode == 0 else f"{os.path.basename(source)} does not build: {made.stderr.strip()}"


def unmount_fat(root):
    subprocess.run(["fusermount", "-u", os.path.join(root, "fat")], stderr=subprocess.DEVNULL)


def run_row(row, cli, base, seed):
    """(passed, what to print)."""
    root, ref = os.path.join(base, "run"), os.path.join(base, "ref")
    os.makedirs(root)
    os.makedirs(ref)
    if row.fat:
        os.mkdir(os.path.join(ref, "fat"))
    row.setup(ref)
    before = files_under(ref)
    reference = subprocess.run([cli] + row.args, cwd=ref, stdin=subprocess.DEVNULL, capture_output=True)
    if reference.returncode != 0:
        return False, f"the reference run failed ({reference.returncode}): {reference.stderr.decode()}"
    destinations = {p: data for p, data in files_under(ref).items() if before.get(p) != data}
    if row.fat:
        why = mount_fat(root)
        if why:
            return None, f"skipped: {why}"
    if row.preload:
        library = os.path.join(base, os.path.splitext(row.preload)[0] + ".so")
        why = build_library(os.path.join(HERE, row.preload), library)
        if why:
            return None, f"skipped: {why}"
    row.setup(root)
    try:
        model = Model(root)
        if row.wrong:
            command = [sys.executable, "-B", os.path.join(HERE, "wrong_writers.py"), row.wrong, ref] + sorted(destinations)
        else:
            command = [cli] + row.args
        log = os.path.join(base, "trace.log")
        if row.interrupt:
            status, _, err = run_traced(command, log, root, SLOW_WRITES, interrupt_at_first_completion)
        elif row.inject:
            status, _, err = run_traced(command, log, root, ["-e", "inject=" + row.inject])
        elif row.preload:
            status, _, err = run_traced(command, log, root, ["-E", "LD_PRELOAD=" + library])
        else:
            status, _, err = run_traced(command, log, root)
        allowed = (0, 130) if row.interrupt else (0, 1) if row.inject or row.preload else (0,)
        if status not in allowed:
            return False, f"exit status {status}: {err.decode(errors='replace')}"
        model.replay(read_log(log))
        model.check_against_disk()
        check = CrashStates(model, destinations, row.single, seed)
        held = check.run()
    except (TraceError, AssertionError) as e:
        if row.loud and isinstance(e, TraceError):
            return True, f"refused as it must be: {e}"
        return False, f"FAILED, not understood: {e}"
    finally:
        if row.fat:
            unmount_fat(root)
    lines = {}
    for op in model.name_ops:
        lines[op.call.entry] = op.call.text
    for inode in check.files:
        for op in inode.ops:
            lines[op.call.entry] = op.call.text
    for flush in model.flushes:
        lines[flush.call.exit] = flush.call.text
    for entry, path in check.told:
        lines[entry] = f"the completion line of {path}"
    counts = (f"exit {status}, {len(check.points)} crash points, {check.states} states"
              f" ({check.exhaustive} all, {check.sampled} sampled), {len(destinations)} destinations,"
              f" {len(check.told)} reported")
    if row.loud:
        return False, f"NOT REFUSED: {counts}"
    if row.wrong:
        if held:
            return False, f"NOT CAUGHT: {counts}"
        return True, f"caught: {counts}\n" + indent(check.violations[0].report(lines))
    if not held:
        return False, f"FAILED: {counts}\n" + indent(check.violations[0].report(lines))
    if row.reported is not None and len(check.told) != row.reported:
        return False, f"FAILED, {row.reported} reported expected: {counts}"
    return True, counts


def indent(text):
    return "\n".join("    " + line for line in text.splitlines())


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    cli, wanted = os.path.abspath(argv[1]), argv[2:]
    why = tracing_works()
    if why:
        print(f"skipped: {why}")
        return SKIPPED
    seed = int(os.environ.get("CRASH_STATES_SEED", "23"))
    print(f"crash states of pictrim-cli: all states where a point allows at most {LIMIT},"
          f" else {LIMIT} drawn with seed {seed} (CRASH_STATES_SEED)")
    failed = 0
    for row in ROWS + WRONG:
        if wanted and not any(w in row.name for w in wanted):
            continue
        started = time.monotonic()
        base = tempfile.mkdtemp(prefix="pictrim-crash-")
        passed, text = run_row(row, cli, base, seed)
        if passed is False:
            text += f"\n    (its files and trace are kept in {base})"
        else:
            shutil.rmtree(base)
        print(f"{row.name:48} {time.monotonic() - started:5.1f} s  {text}", flush=True)
        failed += passed is False
    print("crash states: " + ("every row holds" if not failed else f"{failed} row(s) failed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
