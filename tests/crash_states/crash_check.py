"""Every state a power cut could leave, at every point of a traced run.

The file system model is a conservative one:

- a file's data operations reach the disk in order; after a crash any
  prefix of those issued may be there, down to those an fsync or
  fdatasync of that file covered (issued before the flush began, the flush
  returned before the crash);
- each change of a name is atomic and lasts once an fsync of its folder
  (of both folders for a rename between two) has returned after it; until
  then it may or may not have happened, independently of the others; those
  that happened apply in the order the run issued them;
- sync_file_range promises nothing; sync and syncfs cover everything;
- a flush that failed may have lost for good what it had to write, and a
  later one may succeed without it: a change of a name still open when a
  flush of its folder failed (it began before the failure returned and no
  flush had made it last before the failure began) never lasts, and a
  file's data operations not covered when a flush of that file failed are
  never covered by a later one.

A crash point is any moment the run could be cut: after any operation
began, after any flush returned, after any completion line was written.
Where a point allows at most LIMIT states, all are checked; where it
allows more, LIMIT of them are drawn at random with a seed made from the
row's seed and the point, so a failure can be replayed.
"""

import itertools
import os
import random
import re

LIMIT = 2048
NEVER = float("inf")
DONE = re.compile(r"^Pictrim: (?:(.*) -> (.*): )?完了しました。$")


class Violation:
    def __init__(self, point, path, found, allowed, why, state):
        self.point, self.path, self.found, self.allowed, self.why, self.state = point, path, found, allowed, why, state

    def report(self, lines):
        at = lines.get(self.point, "the start")
        text = [f"crash after line {self.point} ({at}):",
                f"  {self.path} is {self.found}; allowed: {' or '.join(sorted(self.allowed))}{self.why}",
                "  in the state where:"]
        return "\n".join(text + ["    " + s for s in self.state])


def told_files(model, destinations, single):
    """[(line the completion line began to be written, destination)]."""
    told, buffer = [], b""
    for entry, data in model.stdout:
        buffer += data
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            m = DONE.match(line.decode("utf-8", "replace"))
            if not m:
                continue
            path = m.group(2)
            if path is None:
                path = single
            else:
                path = os.path.normpath(os.path.relpath(path, model.root_path) if path.startswith("/") else path)
            if path not in destinations:
                raise AssertionError(f"a completion line for {path}, which is no destination of the run")
            told.append((entry, path))
    return told


class CrashStates:
    def __init__(self, model, destinations, single=None, seed=0):
        self.model = model
        self.destinations = destinations  # relative path -> the conversion's bytes
        self.seed = seed
        self.told = told_files(model, destinations, single)
        self.ops = model.name_ops
        self.durable_at = [self._name_durable(op) for op in self.ops]
        self.files = [inode for inode in model.inodes if inode.ops]
        for inode in self.files:
            inode.ops.sort(key=lambda op: op.call.entry)
        self.data_flushes = {inode.number: self._data_flushes(inode) for inode in self.files}
        self.complete = self._complete()
        initial_paths = model.paths(model.initial)
        self.initial_files = {p: i for p, i in initial_paths.items() if i.kind == "file"}
        self.checked = sorted(set(destinations) | set(self.initial_files))
        self.points = self._points()
        self.exhaustive = self.sampled = self.states = 0
        self.violations = []

    def _flushes_of(self, inode):
        return [f for f in self.model.flushes if f.inode is None or f.inode is inode]

    def _failed_of(self, inode):
        return [f.call for f in self.model.failed_flushes if f.inode is inode]

    def _name_durable(self, op):
        at = 0
        for number in op.folders:
            folder = self.model.inodes[number]
            first = min((f.call.exit for f in self._flushes_of(folder) if f.call.entry > op.call.exit), default=NEVER)
            if any(failed.exit > op.call.entry and failed.entry < first for failed in self._failed_of(folder)):
                first = NEVER
            at = max(at, first)
        return at

    def _data_flushes(self, inode):
        """[(line the flush returned, how many operations it covers)]."""
        flushes = [[f.call.exit, sum(1 for op in inode.ops if op.call.exit < f.call.entry)] for f in self._flushes_of(inode)]
        for failed in sorted(self._failed_of(inode), key=lambda call: call.entry):
            covered = max((n for at, n in flushes if at < failed.entry), default=0)
            for flush in flushes:
                if flush[0] > failed.entry:
                    flush[1] = min(flush[1], covered)
        return [tuple(flush) for flush in flushes]

    def _complete(self):
        """Destination -> the inode that is the complete new file there, as
        the real disk shows it after the run."""
        complete = {}
        for path, expected in self.destinations.items():
            inode = self.model.lookup(path)
            if inode is None or inode.kind != "file":
                continue
            with open(os.path.join(self.model.root_path, path), "rb") as f:
                data = f.read()
            if inode.origin == path and not inode.ops:
                continue  # the old file, left alone
            if data != expected:
                raise AssertionError(f"{path} after the traced run is not the conversion's result")
            complete[path] = inode
        return complete

    def _points(self):
        points = {0}
        points.update(op.call.entry for op in self.ops)
        points.update(op.call.entry for inode in self.files for op in inode.ops)
        points.update(f.call.exit for f in self.model.flushes)
        points.update(entry for entry, _ in self.told)
        return sorted(points)

    # One point -------------------------------------------------------

    def _choices(self, p):
        pending = [i for i, op in enumerate(self.ops) if op.call.entry <= p < self.durable_at[i]]
        ranges = {}
        for inode in self.files:
            issued = sum(1 for op in inode.ops if op.call.entry <= p)
            durable = max((n for at, n in self.data_flushes[inode.number] if at <= p), default=0)
            ranges[inode.number] = (min(durable, issued), issued)
        return pending, ranges

    def _names(self, p, happened, base, start, end):
        """`base` after the operations from `start` to `end` that are durable
        at `p` or in `happened`."""
        names = dict(base)
        for i in range(start, end):
            if self.durable_at[i] <= p or i in happened:
                for key, inode in self.ops[i].effects:
                    if inode is None:
                        names.pop(key, None)
                    else:
                        names[key] = inode
        return names

    def check_point(self, p):
        pending, ranges = self._choices(p)
        varying = [n for n, (lo, hi) in ranges.items() if hi > lo]
        count = 2 ** len(pending)
        for n in varying:
            count *= ranges[n][1] - ranges[n][0] + 1
        told = {path: entry for entry, path in self.told if entry <= p}
        # Everything before the first undecided operation is the same in
        # every state of this point.
        first = pending[0] if pending else len(self.ops)
        base = self._names(p, set(), self.model.initial, 0, first)
        if count <= LIMIT:
            states = itertools.product(itertools.product((False, True), repeat=len(pending)),
                                       itertools.product(*[range(ranges[n][0], ranges[n][1] + 1) for n in varying]))
        else:
            rng = random.Random(f"{self.seed}:{p}")
            states = [(tuple(rng.random() < 0.5 for _ in pending),
                       tuple(rng.randint(*ranges[n]) for n in varying)) for _ in range(LIMIT)]
        for picks, prefixes in states:
            self.states += 1
            if count <= LIMIT:
                self.exhaustive += 1
            else:
                self.sampled += 1
            happened = {i for i, pick in zip(pending, picks) if pick}
            prefix = {n: hi for n, (lo, hi) in ranges.items()}
            prefix.update(zip(varying, prefixes))
            names = self._names(p, happened, base, first, len(self.ops))
            for path in self.checked:
                bad = self._check_path(path, names, prefix, told)
                if bad:
                    found, allowed, why = bad
                    self.violations.append(Violation(p, path, found, allowed, why,
                                                     self._describe(path, names, pending, happened, prefix)))
                    return False
        return True

    def _check_path(self, path, names, prefix, told):
        inode = self.model.lookup(path, names)
        if inode is None:
            found = "absent"
        elif inode.kind != "file":
            found = "a folder"
        else:
            done = prefix.get(inode.number, 0)
            if inode.origin == path and done == 0:
                found = "old"
            elif self.complete.get(path) is inode and done == len(inode.ops):
                found = "new"
            elif done < len(inode.ops):
                found = f"{inode.describe()} with {done} of its {len(inode.ops)} data operations on disk"
            else:
                found = f"{inode.describe()}"
        if path in self.destinations:
            if path in told:
                allowed, why = {"new"}, f" (reported done on line {told[path]})"
            elif path in self.initial_files:
                allowed, why = {"old", "new"}, ""
            else:
                allowed, why = {"absent", "new"}, ""
        else:
            allowed, why = {"old"}, " (not a destination)"
        if found in allowed:
            return None
        return found, allowed, why

    def _describe(self, path, names, pending, happened, prefix):
        """The choices that bear on `path`: changes of a name on its way,
        and how much of the file found there reached the disk."""
        parts = set(path.split("/"))
        found = self.model.lookup(path, names)
        lines = []
        for i in pending:
            op = self.ops[i]
            if any(key[1] in parts or (found is not None and inode is found) for key, inode in op.effects):
                lines.append(f"{'happened' if i in happened else 'lost'}: line {op.call.entry}: {op.call.text}")
        if found is not None and found.ops:
            lines.append(f"{found.describe()}: {prefix.get(found.number, 0)} of its {len(found.ops)} data operations on disk")
        return lines or ["(every operation on its way is durable)"]

    def run(self):
        """Checks every point; stops at the first point with a violation."""
        for p in self.points:
            if not self.check_point(p):
                return False
        return True
