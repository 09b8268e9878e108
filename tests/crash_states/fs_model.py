"""The file system a strace log describes, as the crash states need it.

Replaying the calls in the order they returned gives, for the folder the
run works in (the root) and everything under it:

- files and folders as inodes, each file with the list of its data
  operations (writes of any kind, truncation, fallocate), whose bytes are
  not kept: a file is "complete" once every one of them is on disk, and
  what that looks like is read from the real disk after the run;
- every change of a name (create, link, rename, unlink, mkdir, rmdir) as
  one atomic operation that sets the entries it touches;
- every flush (fsync, fdatasync, sync) that returned success, and every
  fsync or fdatasync that failed;
- what was written to standard output, and when.

The model only follows names under the root; a call it cannot place,
that reaches into the root by a way it does not follow, or whose outcome
it cannot match raises TraceError.
"""

import os
import re

from strace_log import TraceError, fd_path, int_arg, string_arg

O_ACCMODE, O_CREAT, O_TRUNC, O_DIRECTORY, O_TMPFILE = 0o3, 0o100, 0o1000, 0o200000, 0o20000000
AT_FDCWD, AT_SYMLINK_FOLLOW, AT_EMPTY_PATH, AT_REMOVEDIR = -100, 0x400, 0x1000, 0x200
RENAME_NOREPLACE, RENAME_EXCHANGE = 1, 2
CLONE_FILES, CLONE_FS = 0x400, 0x200
F_DUPFD, F_DUPFD_CLOEXEC = 0, 1030
PROT_WRITE, MAP_SHARED = 2, 1

OUTSIDE = "outside"  # a descriptor or folder the model does not follow
STDOUT = "stdout"

# Calls that change neither a file's bytes nor a name, nor which file a
# descriptor means. Anything not here and not handled below fails the run.
HARMLESS = set("""
read pread64 readv preadv preadv2 lseek fstat newfstatat stat lstat statx fstatfs statfs access faccessat
faccessat2 getdents getdents64 flock ioctl poll ppoll select pselect6 epoll_create epoll_create1 epoll_ctl
epoll_wait epoll_pwait epoll_pwait2 readlink readlinkat getcwd fadvise64 readahead sync_file_range munmap
fchmod fchmodat fchmodat2 chmod fchown fchownat chown lchown utimensat futimesat utime utimes getxattr lgetxattr
fgetxattr listxattr llistxattr flistxattr setxattr lsetxattr fsetxattr removexattr lremovexattr fremovexattr
pipe pipe2 eventfd eventfd2 timerfd_create timerfd_settime timerfd_gettime signalfd signalfd4 inotify_init
inotify_init1 inotify_add_watch inotify_rm_watch fanotify_init fanotify_mark memfd_create socket socketpair
connect accept accept4 bind listen getsockname getpeername sendto recvfrom sendmsg recvmsg sendmmsg recvmmsg
setsockopt getsockopt shutdown execve execveat clone clone3 fork vfork name_to_handle_at pidfd_open
""".split())


class Inode:
    def __init__(self, number, kind, origin=None, made=None, parent=None):
        self.number = number
        self.kind = kind  # "file" or "dir"
        self.origin = origin  # its path under the root before the run, or None for one the run made
        self.made = made  # the Call that made it
        self.parent = parent  # for a folder: the folder holding it
        self.ops = []  # DataOp, in the order they were issued

    def describe(self):
        if self.origin is not None:
            return f"the {'folder' if self.kind == 'dir' else 'file'} first at {self.origin}"
        return f"the {'folder' if self.kind == 'dir' else 'file'} made on line {self.made.entry}"


class DataOp:
    def __init__(self, call, inode):
        self.call, self.inode = call, inode


class NameOp:
    def __init__(self, call, effects):
        self.call = call
        self.effects = effects  # [((folder number, name), Inode or None)]
        self.folders = {key[0] for key, _ in effects}


class Flush:
    def __init__(self, call, inode):
        self.call, self.inode = call, inode  # inode None: everything (sync)


class Model:
    def __init__(self, root):
        self.root_path = os.path.realpath(root)
        self.inodes = []
        self.root = self._new("dir", origin=".")
        self.names = {}  # (folder number, name) -> Inode: the state with every call applied
        self._snapshot(self.root, self.root_path, "")
        self.initial = dict(self.names)
        self.name_ops, self.flushes, self.stdout = [], [], []  # stdout: [(entry line, bytes)]
        self.failed_flushes = []
        self._tables, self._cwd, self._clones = {}, {}, {}

    def _new(self, kind, origin=None, made=None, parent=None):
        inode = Inode(len(self.inodes), kind, origin, made, parent)
        self.inodes.append(inode)
        return inode

    def _snapshot(self, folder, path, rel):
        for entry in sorted(os.scandir(path), key=lambda e: e.name):
            sub = rel + entry.name
            if entry.is_symlink() or not (entry.is_file() or entry.is_dir()):
                raise TraceError(f"the model does not follow links or special files: {sub}")
            inode = self._new("dir" if entry.is_dir() else "file", origin=sub, parent=folder)
            self.names[(folder.number, entry.name)] = inode
            if inode.kind == "dir":
                self._snapshot(inode, entry.path, sub + "/")

    # Paths -----------------------------------------------------------

    def lookup(self, rel, names=None):
        """The inode at a path relative to the root in `names`, or None."""
        names = self.names if names is None else names
        at = self.root
        for part in [p for p in rel.split("/") if p not in ("", ".")]:
            if at is None or at.kind != "dir":
                return None
            at = names.get((at.number, part))
        return at

    def _resolve(self, call, base, path):
        """(key, inode now there) for `path` taken from `base`; key None for
        the base itself; OUTSIDE for anywhere the model does not follow."""
        if path.startswith("/"):
            if path != self.root_path and not path.startswith(self.root_path + "/"):
                return OUTSIDE
            base, path = self.root, path[len(self.root_path):]
        if base is OUTSIDE or base is None:
            return OUTSIDE
        parts = [p for p in path.split("/") if p not in ("", ".")]
        if not parts:
            return None, base
        for part in parts[:-1]:
            if part == "..":
                base = base.parent if base is not self.root else OUTSIDE
                if base is OUTSIDE:
                    return OUTSIDE
                continue
            nxt = self.names.get((base.number, part))
            if nxt is None or nxt.kind != "dir":
                raise TraceError(f"{call}: the model has no folder {part} here")
            base = nxt
        if parts[-1] == "..":
            return (None, base.parent) if base is not self.root else OUTSIDE
        key = (base.number, parts[-1])
        return key, self.names.get(key)

    def _dir_base(self, call, token):
        fd = int_arg(token)
        if fd == AT_FDCWD:
            return self._cwd.get(call.pid, self.root)
        handle = self._handle(call, fd, token)
        if isinstance(handle, Inode):
            return handle
        return OUTSIDE

    def _at(self, call, dirfd_token, path_token):
        path, cut = string_arg(path_token)
        if cut:
            raise TraceError(f"{call}: path cut short by strace")
        return self._resolve(call, self._dir_base(call, dirfd_token), path.decode("utf-8", "surrogateescape"))

    # Descriptors -----------------------------------------------------

    def _table(self, pid):
        if pid not in self._tables:
            parent = self._clones.get(pid)
            if parent is None:
                # The first process: it starts with the standard streams.
                self._tables[pid] = {0: OUTSIDE, 1: STDOUT, 2: OUTSIDE}
            else:
                parent_pid, flags = parent
                table = self._table(parent_pid)
                self._tables[pid] = table if flags & CLONE_FILES else dict(table)
                self._cwd.setdefault(pid, self._cwd.get(parent_pid, self.root))
        return self._tables[pid]

    def _handle(self, call, fd, token=None):
        table = self._table(call.pid)
        if fd in table:
            return table[fd]
        shown = fd_path(token) if token else None
        if shown and self._under_root(shown):
            raise TraceError(f"{call}: descriptor {fd} into the root was never seen opened")
        return OUTSIDE

    def _under_root(self, shown):
        return shown == self.root_path or shown.startswith(self.root_path + "/")

    def _set_fd(self, call, fd, handle, shown=None):
        if handle is OUTSIDE and shown and self._under_root(shown):
            raise TraceError(f"{call}: opened a file in the root by a way the model does not follow")
        self._table(call.pid)[fd] = handle

    # Replay ----------------------------------------------------------

    def replay(self, calls):
        for call in calls:
            if call.name in ("clone", "clone3", "fork", "vfork") and call.ok():
                flags = 0
                joined = ", ".join(call.args)
                m = re.search(r"flags=(0x[0-9a-f]+|\d+)", joined)
                if m:
                    flags = int(m.group(1), 0)
                self._clones[call.result] = (call.pid, flags)
        # A descriptor is free from the moment close begins: another
        # thread's open may return its number before strace sees close return.
        ordered = sorted(calls, key=lambda c: c.entry if c.name in ("close", "close_range") else c.exit)
        for call in ordered:
            handler = getattr(self, "_on_" + call.name, None)
            if call.result is None:
                # The process ended inside it: what it did matters only if it
                # changed a name or a file's bytes. A thread still ending (a
                # sanitizer's unmapping, a call strace did not name) when the
                # process exits changes neither; the end is checked against
                # the disk besides.
                if handler is not None and call.name not in ("close", "fsync", "fdatasync", "mmap"):
                    raise TraceError(f"{call}: its outcome is unknown (the process ended inside it)")
                continue
            if handler is not None:
                handler(call)
            elif call.name not in HARMLESS:
                raise TraceError(f"{call}: a system call the model does not know")

    def _name_op(self, call, effects):
        op = NameOp(call, effects)
        for key, inode in effects:
            if inode is None:
                self.names.pop(key, None)
            else:
                self.names[key] = inode
                if inode.kind == "dir":
                    inode.parent = self.inodes[key[0]]
        self.name_ops.append(op)

    def _data(self, call, fd_token, written=True):
        handle = self._handle(call, int_arg(fd_token), fd_token)
        if isinstance(handle, Inode) and written:
            if handle.kind != "file":
                raise TraceError(f"{call}: data written to a folder")
            handle.ops.append(DataOp(call, handle))
        return handle

    def _open(self, call, base_token, path_token, flags):
        if not call.ok():
            return
        place = self._at(call, base_token, path_token) if base_token else self._resolve(
            call, self._cwd.get(call.pid, self.root), string_arg(path_token)[0].decode("utf-8", "surrogateescape"))
        if place is OUTSIDE:
            self._set_fd(call, call.result, OUTSIDE, self._result_path(call))
            return
        key, there = place
        if flags & O_TMPFILE:
            if there is None or there.kind != "dir":
                raise TraceError(f"{call}: an unnamed file in what the model has as no folder")
            inode = self._new("file", made=call)
        elif there is None:
            if not flags & O_CREAT or key is None:
                raise TraceError(f"{call}: opened a name the model does not have")
            inode = self._new("file", made=call)
            self._name_op(call, [(key, inode)])
        else:
            inode = there
            if flags & O_TRUNC and flags & O_ACCMODE and inode.kind == "file":
                inode.ops.append(DataOp(call, inode))
        self._set_fd(call, call.result, inode)

    def _result_path(self, call):
        m = re.search(r"\) = -?\d+<(.*)>(?:\(deleted\))?$", call.text)
        return m.group(1) if m else None

    def _on_open(self, call):
        self._open(call, None, call.args[0], int_arg(call.args[1]))

    def _on_creat(self, call):
        self._open(call, None, call.args[0], O_CREAT | O_TRUNC | 1)

    def _on_openat(self, call):
        self._open(call, call.args[0], call.args[1], int_arg(call.args[2]))

    def _on_openat2(self, call):
        m = re.search(r"flags=(0x[0-9a-f]+|\d+)", call.args[2])
        if not m:
            raise TraceError(f"{call}: cannot read openat2's flags")
        self._open(call, call.args[0], call.args[1], int(m.group(1), 0))

    def _on_close(self, call):
        self._table(call.pid).pop(int_arg(call.args[0]), None)

    def _on_close_range(self, call):
        if call.ok() and not int_arg(call.args[2]) & 4:  # CLOSE_RANGE_CLOEXEC only marks them
            table = self._table(call.pid)
            first, last = int_arg(call.args[0]), int_arg(call.args[1])
            for fd in [fd for fd in table if first <= fd <= last]:
                del table[fd]

    def _dup(self, call, old_token):
        if call.ok():
            self._set_fd(call, call.result, self._handle(call, int_arg(old_token), old_token))

    def _on_dup(self, call):
        self._dup(call, call.args[0])

    _on_dup2 = _on_dup3 = _on_dup

    def _on_fcntl(self, call):
        if int_arg(call.args[1]) in (F_DUPFD, F_DUPFD_CLOEXEC):
            self._dup(call, call.args[0])

    def _write(self, call, fd_token, texts):
        if not call.ok():
            return
        handle = self._data(call, fd_token, written=call.result > 0)
        if handle is STDOUT:
            data = b"".join(string_arg(t)[0] for t in texts)
            if len(data) < call.result:
                raise TraceError(f"{call}: standard output cut short by strace (raise -s)")
            self.stdout.append((call.entry, data[: call.result]))

    def _on_write(self, call):
        self._write(call, call.args[0], [call.args[1]])

    _on_pwrite64 = _on_write

    def _on_writev(self, call):
        self._write(call, call.args[0], re.findall(r'iov_base=("(?:[^"\\]|\\.)*"(?:\.\.\.)?)', call.args[1]))

    _on_pwritev = _on_pwritev2 = _on_writev

    def _on_ftruncate(self, call):
        if call.ok():
            self._data(call, call.args[0])

    _on_fallocate = _on_ftruncate

    def _on_truncate(self, call):
        if call.ok():
            place = self._resolve(call, self._cwd.get(call.pid, self.root),
                                  string_arg(call.args[0])[0].decode("utf-8", "surrogateescape"))
            if place is not OUTSIDE:
                place[1].ops.append(DataOp(call, place[1]))

    def _on_copy_file_range(self, call):
        if call.ok() and call.result > 0:
            self._data(call, call.args[2])

    def _on_sendfile(self, call):
        if call.ok() and call.result > 0:
            self._data(call, call.args[0])

    def _on_splice(self, call):
        if call.ok() and call.result > 0:
            self._data(call, call.args[2])

    def _on_mmap(self, call):
        if len(call.args) == 6 and int_arg(call.args[4]) >= 0:
            handle = self._handle(call, int_arg(call.args[4]), call.args[4])
            if isinstance(handle, Inode) and int_arg(call.args[2]) & PROT_WRITE and int_arg(call.args[3]) & MAP_SHARED:
                raise TraceError(f"{call}: a file mapped for writing; the model cannot see those writes")

    def _on_msync(self, call):
        pass  # only a shared writable mapping could make it matter, and _on_mmap refuses those

    def _refuse(self, call):
        raise TraceError(f"{call}: not modelled")

    _on_io_uring_setup = _on_io_uring_enter = _on_io_uring_register = _refuse
    _on_open_by_handle_at = _on_pidfd_getfd = _refuse
    _on_mount = _on_umount2 = _on_chroot = _on_pivot_root = _on_fsmount = _on_move_mount = _on_open_tree = _refuse

    def _on_fsync(self, call):
        handle = self._handle(call, int_arg(call.args[0]), call.args[0])
        if isinstance(handle, Inode):
            (self.flushes if call.ok() else self.failed_flushes).append(Flush(call, handle))

    _on_fdatasync = _on_fsync

    def _on_sync(self, call):
        self.flushes.append(Flush(call, None))

    def _on_syncfs(self, call):
        if call.ok():
            self.flushes.append(Flush(call, None))

    def _on_chdir(self, call):
        if call.ok():
            place = self._resolve(call, self._cwd.get(call.pid, self.root),
                                  string_arg(call.args[0])[0].decode("utf-8", "surrogateescape"))
            self._cwd[call.pid] = OUTSIDE if place is OUTSIDE else place[1]

    def _on_fchdir(self, call):
        if call.ok():
            handle = self._handle(call, int_arg(call.args[0]), call.args[0])
            self._cwd[call.pid] = handle if isinstance(handle, Inode) else OUTSIDE

    def _linked_file(self, call, base_token, path_token, flags):
        path = string_arg(path_token)[0].decode("utf-8", "surrogateescape")
        m = re.match(r"^/proc/(self|thread-self|\d+)/fd/(\d+)$", path)
        if m:
            if not flags & AT_SYMLINK_FOLLOW:
                raise TraceError(f"{call}: a link to the /proc link itself is not modelled")
            pid = call.pid if m.group(1) in ("self", "thread-self") else int(m.group(1))
            handle = self._table(pid).get(int(m.group(2)), OUTSIDE)
            return handle
        if path == "" and flags & AT_EMPTY_PATH:
            return self._dir_base(call, base_token)
        place = self._at(call, base_token, path_token) if base_token else self._resolve(
            call, self._cwd.get(call.pid, self.root), path)
        return OUTSIDE if place is OUTSIDE else place[1]

    def _link(self, call, old_base, old, new_base, new, flags):
        if not call.ok():
            return
        inode = self._linked_file(call, old_base, old, flags)
        place = self._at(call, new_base, new) if new_base else self._place(call, new)
        if inode is OUTSIDE and place is OUTSIDE:
            return
        if inode is OUTSIDE or place is OUTSIDE or inode is None or place[1] is not None or place[0] is None:
            raise TraceError(f"{call}: a link the model cannot follow")
        self._name_op(call, [(place[0], inode)])

    def _place(self, call, token):
        return self._resolve(call, self._cwd.get(call.pid, self.root),
                             string_arg(token)[0].decode("utf-8", "surrogateescape"))

    def _on_link(self, call):
        self._link(call, None, call.args[0], None, call.args[1], 0)

    def _on_linkat(self, call):
        self._link(call, call.args[0], call.args[1], call.args[2], call.args[3], int_arg(call.args[4]))

    def _rename(self, call, old, new, flags):
        if not call.ok():
            return
        if old is OUTSIDE and new is OUTSIDE:
            return
        if old is OUTSIDE or new is OUTSIDE or old[0] is None or new[0] is None or old[1] is None:
            raise TraceError(f"{call}: a rename the model cannot follow")
        if flags & ~(RENAME_NOREPLACE | RENAME_EXCHANGE):
            raise TraceError(f"{call}: rename flags not modelled")
        if old[1] is new[1]:
            return  # two names of one file: nothing changes
        if flags & RENAME_EXCHANGE:
            self._name_op(call, [(old[0], new[1]), (new[0], old[1])])
        else:
            self._name_op(call, [(old[0], None), (new[0], old[1])])

    def _on_rename(self, call):
        if call.ok():
            self._rename(call, self._place(call, call.args[0]), self._place(call, call.args[1]), 0)

    def _on_renameat(self, call):
        if call.ok():
            flags = int_arg(call.args[4]) if len(call.args) > 4 else 0
            self._rename(call, self._at(call, call.args[0], call.args[1]), self._at(call, call.args[2], call.args[3]), flags)

    _on_renameat2 = _on_renameat

    def _remove(self, call, place):
        if not call.ok() or place is OUTSIDE:
            return
        if place[0] is None or place[1] is None:
            raise TraceError(f"{call}: removed a name the model does not have")
        self._name_op(call, [(place[0], None)])

    def _on_unlink(self, call):
        if call.ok():
            self._remove(call, self._place(call, call.args[0]))

    _on_rmdir = _on_unlink

    def _on_unlinkat(self, call):
        if call.ok():
            self._remove(call, self._at(call, call.args[0], call.args[1]))

    def _mkdir(self, call, place):
        if not call.ok() or place is OUTSIDE:
            return
        if place[0] is None or place[1] is not None:
            raise TraceError(f"{call}: made a folder where the model has a name already")
        self._name_op(call, [(place[0], self._new("dir", made=call, parent=self.inodes[place[0][0]]))])

    def _on_mkdir(self, call):
        if call.ok():
            self._mkdir(call, self._place(call, call.args[0]))

    def _on_mkdirat(self, call):
        if call.ok():
            self._mkdir(call, self._at(call, call.args[0], call.args[1]))

    def _make_special(self, call, place):
        if call.ok() and place is not OUTSIDE:
            raise TraceError(f"{call}: links and special files are not modelled")

    def _on_symlink(self, call):
        if call.ok():
            self._make_special(call, self._place(call, call.args[1]))

    def _on_symlinkat(self, call):
        if call.ok():
            self._make_special(call, self._at(call, call.args[1], call.args[2]))

    def _on_mknod(self, call):
        if call.ok():
            self._make_special(call, self._place(call, call.args[0]))

    def _on_mknodat(self, call):
        if call.ok():
            self._make_special(call, self._at(call, call.args[0], call.args[1]))

    # After the run ---------------------------------------------------

    def paths(self, names=None):
        """Every path under the root in `names`: {relative path: Inode}."""
        names = self.names if names is None else names
        children = {}
        for (folder, name), inode in names.items():
            children.setdefault(folder, []).append((name, inode))
        found, todo = {}, [(self.root, "")]
        while todo:
            folder, rel = todo.pop()
            for name, inode in children.get(folder.number, []):
                found[rel + name] = inode
                if inode.kind == "dir":
                    todo.append((inode, rel + name + "/"))
        return found

    def check_against_disk(self):
        """The model's last state must be what is on the disk."""
        real = {}
        for folder, dirs, files in os.walk(self.root_path):
            rel = os.path.relpath(folder, self.root_path)
            for name in dirs + files:
                real[os.path.normpath(os.path.join(rel, name))] = "dir" if name in dirs else "file"
        modelled = {path: inode.kind for path, inode in self.paths().items()}
        if real != modelled:
            extra = sorted(set(real.items()) - set(modelled.items()))
            missing = sorted(set(modelled.items()) - set(real.items()))
            raise TraceError(f"the model's end differs from the disk: on disk only {extra}, in the model only {missing}")
