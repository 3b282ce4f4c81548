/* Preloaded into qvbackup by crash_test.sh: counts the calls that change
 * files below one folder and stops the process at a chosen one, so that a
 * run can be killed (or held) at an exact point of its work.
 *
 *   QV_CRASH_DIR    only calls on paths below this folder (or on the folder
 *                   itself) count; a call on a descriptor counts by the path
 *                   /proc/self/fd gives for it
 *   QV_CRASH_OP     write (write, pwrite), sync (fsync, fdatasync), rename
 *                   (rename, renameat, renameat2; either name below the
 *                   folder), unlink (unlink, unlinkat, remove), mode
 *                   (chmod, fchmod, fchmodat) or times (utimensat,
 *                   futimens)
 *   QV_CRASH_AT     N: the N-th counted call of that operation sends SIGKILL
 *                   to the process before it is made
 *   QV_PAUSE_AT     N: the N-th counted call of that operation creates the
 *                   file QV_PAUSE_FILE.held, waits until QV_PAUSE_FILE is
 *                   gone, then is made
 *   QV_CRASH_COUNT  FILE: the totals, a line "OP N" for each operation, are
 *                   written to FILE when the process exits
 *   QV_CRASH_TRACE  FILE: each counted call adds the line "OP N PATH" to
 *                   FILE, in the order they are made (a rename: the new
 *                   name, then the old one)
 *
 * Built by the test: cc -shared -fPIC -O2 -o shim.so crash_shim.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

enum { OP_WRITE, OP_SYNC, OP_RENAME, OP_UNLINK, OP_MODE, OP_TIMES, OP_KINDS };
static const char *const op_names[OP_KINDS] = {"write", "sync", "rename", "unlink", "mode", "times"};

static char watched[PATH_MAX];
static size_t watched_length;
static int chosen_op = -1;
static long crash_at;
static long pause_at;
static char pause_file[PATH_MAX];
static char count_file[PATH_MAX];
static char trace_file[PATH_MAX];
static int trace_fd = -1;
static long counts[OP_KINDS];

static void *next(const char *name) {
  void *symbol = dlsym(RTLD_NEXT, name);
  if (symbol == NULL) {
    fprintf(stderr, "crash shim: no next %s\n", name);
    abort();
  }
  return symbol;
}

/* Each wrapper looks up the function it stands for once. */
#define REAL(type, name, params)                    \
  static type(*real_##name) params;                 \
  if (real_##name == NULL) real_##name = next(#name)

static void copy_setting(const char *name, char *target, size_t size) {
  const char *value = getenv(name);
  if (value != NULL && strlen(value) < size) strcpy(target, value);
}

__attribute__((constructor)) static void read_settings(void) {
  copy_setting("QV_CRASH_DIR", watched, sizeof(watched));
  watched_length = strlen(watched);
  while (watched_length > 1 && watched[watched_length - 1] == '/') watched[--watched_length] = 0;
  copy_setting("QV_PAUSE_FILE", pause_file, sizeof(pause_file));
  copy_setting("QV_CRASH_COUNT", count_file, sizeof(count_file));
  copy_setting("QV_CRASH_TRACE", trace_file, sizeof(trace_file));
  if (trace_file[0] != 0) trace_fd = open(trace_file, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  const char *op = getenv("QV_CRASH_OP");
  for (int kind = 0; op != NULL && kind < OP_KINDS; ++kind) {
    if (strcmp(op, op_names[kind]) == 0) chosen_op = kind;
  }
  if (op != NULL && chosen_op < 0) {
    fprintf(stderr, "crash shim: unknown QV_CRASH_OP %s\n", op);
    abort();
  }
  const char *at = getenv("QV_CRASH_AT");
  if (at != NULL) crash_at = strtol(at, NULL, 10);
  at = getenv("QV_PAUSE_AT");
  if (at != NULL) pause_at = strtol(at, NULL, 10);
}

__attribute__((destructor)) static void write_counts(void) {
  if (count_file[0] == 0) return;
  FILE *file = fopen(count_file, "w");
  if (file == NULL) return;
  for (int kind = 0; kind < OP_KINDS; ++kind) {
    fprintf(file, "%s %ld\n", op_names[kind], counts[kind]);
  }
  fclose(file);
}

static int below_watched(const char *path) {
  if (watched_length == 0 || path == NULL) return 0;
  return strncmp(path, watched, watched_length) == 0 && (path[watched_length] == 0 || path[watched_length] == '/');
}

/* The path the descriptor `fd` was opened by ("" when it cannot be told). */
static void fd_path(int fd, char *out, size_t size) {
  char link[64];
  snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
  ssize_t length = readlink(link, out, size - 1);
  out[length > 0 ? length : 0] = 0;
}

/* The absolute path of `path` taken from the folder `dir` (AT_FDCWD: the
 * current one); "" when it cannot be told. */
static void absolute(int dir, const char *path, char *out, size_t size) {
  out[0] = 0;
  if (path == NULL) return;
  if (path[0] == '/') {
    snprintf(out, size, "%s", path);
    return;
  }
  char base[PATH_MAX];
  if (dir == AT_FDCWD) {
    if (getcwd(base, sizeof(base)) == NULL) return;
  } else {
    fd_path(dir, base, sizeof(base));
    if (base[0] == 0) return;
  }
  snprintf(out, size, "%s/%s", base, path);
}

/* A call of `kind` on a watched file, about to be made; `path` and `other`
 * (or "") name it for the trace, whose lines go out one write each. */
static void counted(int kind, const char *path, const char *other) {
  static pthread_mutex_t order = PTHREAD_MUTEX_INITIALIZER;
  pthread_mutex_lock(&order);
  const long number = ++counts[kind];
  if (trace_fd >= 0) {
    REAL(ssize_t, write, (int, const void *, size_t));
    char line[3 * PATH_MAX];
    int length = snprintf(line, sizeof(line), "%s %ld %s%s%s\n", op_names[kind], number, path,
                          other[0] != 0 ? " " : "", other);
    if (length > 0 && (size_t)length < sizeof(line)) (void)!real_write(trace_fd, line, (size_t)length);
  }
  pthread_mutex_unlock(&order);
  if (kind != chosen_op) return;
  if (number == crash_at) {
    kill(getpid(), SIGKILL);
    for (;;) pause();
  }
  if (number == pause_at && pause_file[0] != 0) {
    char held[PATH_MAX + 8];
    snprintf(held, sizeof(held), "%s.held", pause_file);
    int fd = open(held, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    const struct timespec step = {0, 10 * 1000 * 1000};
    while (access(pause_file, F_OK) == 0) nanosleep(&step, NULL);
  }
}

static void on_fd(int kind, int fd) {
  if (watched_length == 0) return;
  char path[PATH_MAX];
  fd_path(fd, path, sizeof(path));
  if (below_watched(path)) counted(kind, path, "");
}

static void on_paths(int kind, int dir, const char *path, int other_dir, const char *other) {
  if (watched_length == 0) return;
  char first[2 * PATH_MAX];
  char second[2 * PATH_MAX];
  absolute(dir, path, first, sizeof(first));
  second[0] = 0;
  if (other != NULL) absolute(other_dir, other, second, sizeof(second));
  if (below_watched(first) || below_watched(second)) counted(kind, first, second);
}

ssize_t write(int fd, const void *data, size_t size) {
  REAL(ssize_t, write, (int, const void *, size_t));
  on_fd(OP_WRITE, fd);
  return real_write(fd, data, size);
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset) {
  REAL(ssize_t, pwrite, (int, const void *, size_t, off_t));
  on_fd(OP_WRITE, fd);
  return real_pwrite(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void *data, size_t size, off64_t offset) {
  REAL(ssize_t, pwrite64, (int, const void *, size_t, off64_t));
  on_fd(OP_WRITE, fd);
  return real_pwrite64(fd, data, size, offset);
}

int fsync(int fd) {
  REAL(int, fsync, (int));
  on_fd(OP_SYNC, fd);
  return real_fsync(fd);
}

int fdatasync(int fd) {
  REAL(int, fdatasync, (int));
  on_fd(OP_SYNC, fd);
  return real_fdatasync(fd);
}

/* Renames trace the new name first: it tells what the call made. */
int rename(const char *from, const char *to) {
  REAL(int, rename, (const char *, const char *));
  on_paths(OP_RENAME, AT_FDCWD, to, AT_FDCWD, from);
  return real_rename(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to) {
  REAL(int, renameat, (int, const char *, int, const char *));
  on_paths(OP_RENAME, toDir, to, fromDir, from);
  return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags) {
  REAL(int, renameat2, (int, const char *, int, const char *, unsigned int));
  on_paths(OP_RENAME, toDir, to, fromDir, from);
  return real_renameat2(fromDir, from, toDir, to, flags);
}

int unlink(const char *path) {
  REAL(int, unlink, (const char *));
  on_paths(OP_UNLINK, AT_FDCWD, path, AT_FDCWD, NULL);
  return real_unlink(path);
}

int unlinkat(int dir, const char *path, int flags) {
  REAL(int, unlinkat, (int, const char *, int));
  on_paths(OP_UNLINK, dir, path, AT_FDCWD, NULL);
  return real_unlinkat(dir, path, flags);
}

int remove(const char *path) {
  REAL(int, remove, (const char *));
  on_paths(OP_UNLINK, AT_FDCWD, path, AT_FDCWD, NULL);
  return real_remove(path);
}

int chmod(const char *path, mode_t mode) {
  REAL(int, chmod, (const char *, mode_t));
  on_paths(OP_MODE, AT_FDCWD, path, AT_FDCWD, NULL);
  return real_chmod(path, mode);
}

int fchmod(int fd, mode_t mode) {
  REAL(int, fchmod, (int, mode_t));
  on_fd(OP_MODE, fd);
  return real_fchmod(fd, mode);
}

int fchmodat(int dir, const char *path, mode_t mode, int flags) {
  REAL(int, fchmodat, (int, const char *, mode_t, int));
  on_paths(OP_MODE, dir, path, AT_FDCWD, NULL);
  return real_fchmodat(dir, path, mode, flags);
}

int utimensat(int dir, const char *path, const struct timespec times[2], int flags) {
  REAL(int, utimensat, (int, const char *, const struct timespec *, int));
  on_paths(OP_TIMES, dir, path, AT_FDCWD, NULL);
  return real_utimensat(dir, path, times, flags);
}

int futimens(int fd, const struct timespec times[2]) {
  REAL(int, futimens, (int, const struct timespec *));
  on_fd(OP_TIMES, fd);
  return real_futimens(fd, times);
}
