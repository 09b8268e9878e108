/* Preloaded into a traced run: the first flush of a folder in the whole
 * process fails with EIO, every later one goes through. strace can only
 * count calls per thread, and each file of a batch has a thread of its own.
 *
 * The failing flush still reaches the kernel, through a descriptor that
 * names the folder but allows no flush (O_PATH): the kernel refuses it
 * (EBADF) without touching the disk, and the trace shows a failed flush of
 * exactly that folder, which is what the program is told it was. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdatomic.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static atomic_int failed;

int fsync(int fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && atomic_exchange(&failed, 1) == 0) {
        const int named = openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        syscall(SYS_fsync, named);
        close(named);
        errno = EIO;
        return -1;
    }
    return (int)syscall(SYS_fsync, fd);
}
