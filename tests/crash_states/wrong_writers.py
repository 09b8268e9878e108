"""Destination writers that are wrong on purpose, each in one way a
refactoring could make pictrim-cli wrong; the crash-state check must catch
every one of them.

    wrong_writers.py MODE REFERENCE DESTINATION...

Each DESTINATION (relative to the working folder) gets the bytes of the
same path under REFERENCE, in two writes, and a completion line as
pictrim-cli prints it.
"""

import ctypes
import mmap
import os
import sys


def folder_of(path):
    return os.path.dirname(path) or "."


def flush(path):
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    os.fsync(fd)
    os.close(fd)


def write_file(path, data, flags, sync):
    fd = os.open(path, os.O_WRONLY | flags, 0o644)
    os.write(fd, data[: len(data) // 2])
    os.write(fd, data[len(data) // 2:])
    if sync:
        os.fsync(fd)
    os.close(fd)


def tell(destination):
    sys.stdout.write(f"Pictrim: {destination} -> {destination}: 完了しました。\n")
    sys.stdout.flush()


def through_temporary(destination, data, sync_data=True, sync_folder=True, tell_first=False):
    temporary = os.path.join(folder_of(destination), ".wrong-" + os.path.basename(destination))
    write_file(temporary, data, os.O_CREAT | os.O_EXCL, sync_data)
    os.rename(temporary, destination)
    if tell_first:
        tell(destination)
    if sync_folder:
        flush(folder_of(destination))
    if not tell_first:
        tell(destination)


def truncate_in_place(destination, data):
    write_file(destination, data, os.O_CREAT | os.O_TRUNC, True)
    flush(folder_of(destination))
    tell(destination)


def rename_unflushed(destination, data):
    through_temporary(destination, data, sync_data=False)


def no_folder_flush(destination, data):
    through_temporary(destination, data, sync_folder=False)


def unflushed_new_folder(destination, data):
    # Makes the missing folders, each flushed itself but none in its parent.
    missing, at = [], folder_of(destination)
    while not os.path.isdir(at):
        missing.append(at)
        at = folder_of(at)
    for folder in reversed(missing):
        os.mkdir(folder)
    through_temporary(destination, data)


def early_completion(destination, data):
    through_temporary(destination, data, tell_first=True)


def folder_flush_retried(destination, data):
    # Run with the first folder flush failing: flushed again, the folder
    # says yes, but what the failed flush lost need not be on disk.
    temporary = os.path.join(folder_of(destination), ".wrong-" + os.path.basename(destination))
    write_file(temporary, data, os.O_CREAT | os.O_EXCL, True)
    os.rename(temporary, destination)
    try:
        flush(folder_of(destination))
    except OSError:
        flush(folder_of(destination))
    tell(destination)


def mapped_write(destination, data):
    # Right in its order, but its writes go through memory no trace shows:
    # the check must refuse to judge it.
    temporary = os.path.join(folder_of(destination), ".wrong-" + os.path.basename(destination))
    fd = os.open(temporary, os.O_RDWR | os.O_CREAT | os.O_EXCL, 0o644)
    os.ftruncate(fd, len(data))
    with mmap.mmap(fd, len(data)) as mapped:
        mapped[:] = data
        mapped.flush()
    os.fsync(fd)
    os.close(fd)
    os.rename(temporary, destination)
    flush(folder_of(destination))
    tell(destination)


def file_system_flushed_early(destination, data):
    # The file system flushed whole, as the batch does, but before the
    # file's last write: the flush covers only what came before it.
    temporary = os.path.join(folder_of(destination), ".wrong-" + os.path.basename(destination))
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    os.write(fd, data[: len(data) // 2])
    if ctypes.CDLL(None, use_errno=True).syncfs(fd) != 0:
        raise OSError(ctypes.get_errno(), "syncfs")
    os.write(fd, data[len(data) // 2:])
    os.close(fd)
    os.rename(temporary, destination)
    flush(folder_of(destination))
    tell(destination)


MODES = {f.__name__: f for f in (truncate_in_place, rename_unflushed, no_folder_flush, unflushed_new_folder,
                                 early_completion, folder_flush_retried, mapped_write, file_system_flushed_early)}

if __name__ == "__main__":
    mode, reference, destinations = MODES[sys.argv[1]], sys.argv[2], sys.argv[3:]
    for destination in destinations:
        with open(os.path.join(reference, destination), "rb") as f:
            mode(destination, f.read())
