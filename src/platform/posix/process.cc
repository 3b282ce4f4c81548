#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/posix/drive_map.h"
#include "platform/posix/posix_error.h"

extern char** environ;

namespace qv::platform {

namespace {

// Both ends closed when the object dies.
struct Pipe {
  int read = -1;
  int write = -1;
  ~Pipe() {
    if (read >= 0) close(read);
    if (write >= 0) close(write);
  }
  bool Open() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    read = ends[0];
    write = ends[1];
    return true;
  }
};

bool IsRunnableFile(const std::string& path) {
  struct stat data;
  return stat(path.c_str(), &data) == 0 && S_ISREG(data.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Reads what is there of `fd` into `into`; false at its end.
bool Drain(int fd, std::string* into) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof(buffer));
    if (got > 0) {
      into->append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

}  // namespace

bool ProgramPathOf(const WString& drivePath, WString* native) {
  posix::NativePath path;
  if (!posix::NativePathOf(drivePath, &path)) return false;
  *native = Utf8ToUtf16(path.path);
  return true;
}

WString FindProgram(const WString& name) {
  const std::string native = Utf16ToUtf8(name);
  if (native.empty()) {
    posix::FailWith(ERROR_FILE_NOT_FOUND);
    return WString();
  }
  if (native.find('/') != std::string::npos) {
    if (IsRunnableFile(native)) return name;
    posix::FailWith(ERROR_FILE_NOT_FOUND);
    return WString();
  }
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder.push_back('.');  // the current folder
    std::string candidate = std::move(folder);
    candidate.push_back('/');
    candidate += native;
    if (IsRunnableFile(candidate)) return Utf8ToUtf16(candidate);
    start = end + 1;
  }
  posix::FailWith(ERROR_FILE_NOT_FOUND);
  return WString();
}

bool RunProgram(const WString& program, const std::vector<WString>& arguments, ProgramRun* run,
                const volatile BOOL* cancel) {
  *run = ProgramRun();
  const WString found = FindProgram(program);
  if (found.empty()) return false;
  const std::string path = Utf16ToUtf8(found);
  std::vector<std::string> texts{path};
  for (const WString& argument : arguments) texts.push_back(Utf16ToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  Pipe out;
  Pipe err;
  if (!out.Open() || !err.Open()) return posix::FailWithErrno(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write, 1);
  posix_spawn_file_actions_adddup2(&actions, err.write, 2);
  // The child starts with the default signal dispositions and mask.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t child = -1;
  const int spawned = posix_spawn(&child, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return posix::FailWithErrno(spawned);
  close(out.write);
  out.write = -1;
  close(err.write);
  err.write = -1;
  fcntl(out.read, F_SETFL, O_NONBLOCK);
  fcntl(err.read, F_SETFL, O_NONBLOCK);

  bool cancelled = false;
  bool outOpen = true;
  bool errOpen = true;
  while (outOpen || errOpen) {
    if (!cancelled && cancel != nullptr && *cancel) {
      cancelled = true;
      kill(child, SIGTERM);
    }
    struct pollfd watched[2];
    nfds_t count = 0;
    if (outOpen) watched[count++] = {out.read, POLLIN, 0};
    if (errOpen) watched[count++] = {err.read, POLLIN, 0};
    // The cancel word is looked at a few times a second.
    const int ready = poll(watched, count, cancel != nullptr ? 200 : -1);
    if (ready < 0 && errno != EINTR) break;
    if (outOpen && !Drain(out.read, &run->output)) outOpen = false;
    if (errOpen && !Drain(err.read, &run->errors)) errOpen = false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return posix::FailWithErrno(errno);
  }
  if (cancelled) return posix::FailWith(ERROR_CANCELLED);
  if (WIFEXITED(status)) {
    run->exitCode = static_cast<DWORD>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    run->exitCode = 128 + static_cast<DWORD>(WTERMSIG(status));
  }
  return true;
}

}  // namespace qv::platform
