"""Runs a command under strace and reads its log back as whole system calls.

The log is strace's own text (-f -y -qq -X raw). A call another thread
interrupted is printed in two halves, "<unfinished ...>" and
"<... resumed>"; both are joined into one Call that keeps the line of
each half, since the call took effect somewhere between them. Anything
the reader cannot take apart raises TraceError: a log only half
understood must never let a run pass.
"""

import os
import re
import shutil
import subprocess
import tempfile

# Every call that takes a file descriptor or a path, the ones that make
# threads and processes (for the descriptor tables), and sync.
TRACED = "%file,%desc,clone,clone3,fork,vfork,sync"


class TraceError(Exception):
    """The log holds something the checker does not understand."""


class Call:
    def __init__(self, pid, name, args, result, error, entry, exit, text):
        self.pid = pid
        self.name = name
        self.args = args  # the arguments as strace printed them, split at the top level
        self.result = result  # an int, or None when strace printed "?"
        self.error = error  # "ENOENT" and the like, or None
        self.entry = entry  # the log line where the call began
        self.exit = exit  # the log line where it returned
        self.text = text

    def ok(self):
        return self.result is not None and self.error is None and self.result >= 0

    def __repr__(self):
        return f"line {self.exit}: {self.text}"


def strace_command(log, command, options=()):
    return ["strace", "-f", "-y", "-qq", "-X", "raw", "-s", "4096", "-e", "abbrev=none",
            "-e", "trace=" + TRACED, "-o", log] + list(options) + ["--"] + command


def tracing_works():
    """None when strace can trace here, else why not."""
    if shutil.which("strace") is None:
        return "strace is not installed"
    probe = subprocess.run(["strace", "-f", "-qq", "-e", "trace=none", "--", "true"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if probe.returncode != 0:
        said = probe.stderr.strip().splitlines()
        return "strace cannot trace here (no ptrace?)" + (": " + said[-1] if said else "")
    return None


_LINE = re.compile(r"^(\d+) +(.*)$")
_RESUMED = re.compile(r"^<\.\.\. (\w+) resumed>(.*)$")
_START = re.compile(r"^(\w+|\?\?\?)\((.*)$")  # ???: strace let go before it read which call
_UNFINISHED = " <unfinished ...>"
# The process ended (another thread's exit) while strace held this thread
# inside a call: strace lets go of it and the call never shows its end.
_DETACHED = " <detached ...>"


def _scan_args(text):
    """Splits "a, b, {c, d}) = 5 ..." into (["a", "b", "{c, d}"], "= 5 ...")."""
    args, depth, i, start = [], 0, 0, 0
    while i < len(text):
        c = text[i]
        if c == '"':
            i += 1
            while i < len(text) and text[i] != '"':
                i += 2 if text[i] == "\\" else 1
        elif c == "<" and i > 0 and (text[i - 1].isdigit()):
            # A descriptor's path from -y: "5</tmp/a b.bmp>".
            end = text.find(">", i)
            if end < 0:
                raise TraceError("unclosed descriptor path in: " + text)
            i = end
        elif c in "({[":
            depth += 1
        elif c in "]}":
            depth -= 1
        elif c == ")":
            if depth == 0:
                last = text[start:i].strip()
                if last or args:
                    args.append(last)
                return args, text[i + 1:].strip()
            depth -= 1
        elif c == "," and depth == 0:
            args.append(text[start:i].strip())
            start = i + 1
        i += 1
    raise TraceError("unbalanced arguments in: " + text)


_RESULT = re.compile(r"^= (-?\d+|0x[0-9a-f]+|\?)(.*)$")
_ERROR = re.compile(r"^(?:<[^>]*>(?:\(deleted\))?)? (E[A-Z0-9]+) \(")


def _result(tail, text):
    m = _RESULT.match(tail)
    if not m:
        raise TraceError("cannot read the result of: " + text)
    value = None if m.group(1) == "?" else int(m.group(1), 0)
    error = _ERROR.match(m.group(2))
    return value, error.group(1) if error else None


def _unpadded(text):
    """strace pads the result to a column; one space reads better in a report."""
    return re.sub(r"\) {2,}= ", ") = ", text)


def read_log(path):
    """The calls of a strace log, in the order they returned."""
    calls, pending = [], {}
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            m = _LINE.match(line)
            if not m:
                raise TraceError(f"line {number} of the log has no process number: {line}")
            pid, rest = int(m.group(1)), m.group(2)
            if rest.startswith("--- ") or rest.startswith("+++ "):
                continue  # a signal delivered, a process gone
            resumed = _RESUMED.match(rest)
            if resumed:
                if pid not in pending or pending[pid][0] != resumed.group(1):
                    raise TraceError(f"line {number} resumes a call that never began: {line}")
                name, head, entry = pending.pop(pid)
                body = head + resumed.group(2)
            else:
                start = _START.match(rest)
                if not start:
                    raise TraceError(f"line {number} is no system call: {line}")
                name, body, entry = start.group(1), start.group(2), number
            cut = next((mark for mark in (_UNFINISHED, _DETACHED) if body.endswith(mark)), None)
            if cut:
                pending[pid] = (name, body[: -len(cut)], entry)
                continue
            args, tail = _scan_args(body)
            result, error = _result(tail, line)
            calls.append(Call(pid, name, args, result, error, entry, number, _unpadded(f"{name}({body}")))
    for pid, (name, _, entry) in pending.items():
        # Only harmless when the process ended inside it, which the model
        # judges by the call's name.
        calls.append(Call(pid, name, [], None, None, entry, entry, f"{name}(<unfinished>"))
    return calls


_ESCAPES = {"n": 10, "t": 9, "r": 13, "v": 11, "f": 12, "a": 7, "b": 8, "\\": 92, '"': 34, "'": 39}


def string_arg(token):
    """The bytes of a quoted argument, and whether strace cut it short."""
    m = re.match(r'^"(.*)"(\.\.\.)?$', token, re.S)
    if not m:
        raise TraceError("not a string: " + token)
    raw, out, i = m.group(1), bytearray(), 0
    while i < len(raw):
        c = raw[i]
        if c != "\\":
            out += c.encode("utf-8", "surrogateescape")
            i += 1
            continue
        nxt = raw[i + 1]
        if nxt in _ESCAPES:
            out.append(_ESCAPES[nxt])
            i += 2
        elif nxt == "x":
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
        elif nxt.isdigit():
            j = i + 1
            while j < len(raw) and j < i + 4 and raw[j] in "01234567":
                j += 1
            out.append(int(raw[i + 1:j], 8))
            i = j
        else:
            raise TraceError("unknown escape in: " + token)
    return bytes(out), m.group(2) is not None


def int_arg(token):
    """A number, a descriptor printed with its path ("5</a.bmp>"), NULL."""
    m = re.match(r"^(-?\d+|0x[0-9a-f]+)(?:<.*>(?:\(deleted\))?)?$", token)
    if token == "NULL":
        return 0
    if not m:
        raise TraceError("not a number: " + token)
    return int(m.group(1), 0)


def fd_path(token):
    """The path -y printed beside a descriptor, or None."""
    m = re.match(r"^-?\d+<(.*)>(\(deleted\))?$", token)
    return m.group(1) if m else None


def run_traced(command, log, cwd, options=(), on_stdout_line=None):
    """Runs `command` under strace (with more `options` for strace);
    returns (status, stdout bytes, stderr bytes). on_stdout_line(pid of
    strace, line) sees each line of standard output as it comes."""
    env = dict(os.environ)
    # LeakSanitizer stops the world with ptrace, which strace already holds;
    # a preloaded library comes before AddressSanitizer's, which it then refuses.
    env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + ":detect_leaks=0:verify_asan_link_order=0").lstrip(":")
    with tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(strace_command(log, command, options), cwd=cwd, stdin=subprocess.DEVNULL, env=env,
                                stdout=subprocess.PIPE, stderr=err)
        out = b""
        for line in proc.stdout:
            out += line
            if on_stdout_line is not None:
                on_stdout_line(proc.pid, line)
        proc.wait()
        err.seek(0)
        return proc.returncode, out, err.read()
