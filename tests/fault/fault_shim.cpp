// Fault injection for the writers, loaded with LD_PRELOAD: counts every call
// that writes, renames, syncs or creates a file under one folder, and fails
// the n-th of them with an error of the disk (ENOSPC by default), as a full
// or failing disk would. Driven by the environment:
//   PATHWICK_FAULT_UNDER   the folder whose files count (an absolute path
//                          without links, as `readlink -f` gives it)
//   PATHWICK_FAULT_AT      the call to fail, from 1; 0 or unset: none
//   PATHWICK_FAULT_ERRNO   ENOSPC, EIO or EFBIG (default ENOSPC)
//   PATHWICK_FAULT_MATCH   when set, only paths that hold this text count
//   PATHWICK_FAULT_REPORT  a file outside that folder where the failed
//                          call is named, one line, when it is reached
// The variables are taken out of the environment as the program starts, so
// that a program it starts (a repeat, ffmpeg) counts and fails nothing.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Plain arrays, zero before any initialiser runs: the constructor below may
// run before the dynamic initialisers of this file.
std::atomic<bool> ready{false};
std::atomic<long> calls{0};
long failAt = 0;
int failWith = ENOSPC;
char under[PATH_MAX];
size_t underLength = 0;
char report[PATH_MAX];
char match[PATH_MAX];

template <class F>
F Real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using TWrite = ssize_t (*)(int, const void*, size_t);
using TOpen = int (*)(const char*, int, ...);

bool Under(const std::string& path) {
  return underLength > 0 && path.size() > underLength && path.compare(0, underLength, under) == 0 &&
         path[underLength] == '/' && (match[0] == '\0' || path.find(match) != std::string::npos);
}

// The path a descriptor stands for, as the kernel names it.
std::string FdPath(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// The path of `name` relative to the folder `at`.
std::string AtPath(int at, const char* name) {
  if (name == nullptr) return {};
  if (name[0] == '/') return name;
  if (at == AT_FDCWD) {
    char cwd[PATH_MAX];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) + '/' + name : std::string();
  }
  return FdPath(at) + '/' + name;
}

// True when this call is the one to fail; then errno is set.
bool Inject(bool counts, const char* what, const std::string& path) {
  if (!ready.load() || !counts) return false;
  const long n = calls.fetch_add(1) + 1;
  if (failAt <= 0 || n != failAt) return false;
  if (report[0] != '\0') {
    static const TOpen open = Real<TOpen>("open");
    static const TWrite write = Real<TWrite>("write");
    const int file = open(report, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file >= 0) {
      const std::string line = std::to_string(n) + ' ' + what + ' ' + path + '\n';
      write(file, line.data(), line.size());
      ::close(file);
    }
  }
  errno = failWith;
  return true;
}

bool FdCounts(int fd, std::string* path) {
  if (!ready.load()) return false;
  *path = FdPath(fd);
  return Under(*path);
}

bool AtCounts(int at, const char* name, std::string* path) {
  if (!ready.load()) return false;
  *path = AtPath(at, name);
  return Under(*path);
}

__attribute__((constructor)) void Start() {
  const char* folder = std::getenv("PATHWICK_FAULT_UNDER");
  if (folder == nullptr || folder[0] != '/' || std::strlen(folder) >= sizeof under) return;
  std::strcpy(under, folder);
  underLength = std::strlen(under);
  while (underLength > 1 && under[underLength - 1] == '/') under[--underLength] = '\0';
  if (const char* at = std::getenv("PATHWICK_FAULT_AT")) failAt = std::strtol(at, nullptr, 10);
  if (const char* error = std::getenv("PATHWICK_FAULT_ERRNO")) {
    if (std::strcmp(error, "EIO") == 0) failWith = EIO;
    if (std::strcmp(error, "EFBIG") == 0) failWith = EFBIG;
  }
  if (const char* file = std::getenv("PATHWICK_FAULT_REPORT"); file && std::strlen(file) < sizeof report)
    std::strcpy(report, file);
  if (const char* text = std::getenv("PATHWICK_FAULT_MATCH"); text && std::strlen(text) < sizeof match)
    std::strcpy(match, text);
  for (const char* name : {"PATHWICK_FAULT_UNDER", "PATHWICK_FAULT_AT", "PATHWICK_FAULT_ERRNO", "PATHWICK_FAULT_REPORT",
                           "PATHWICK_FAULT_MATCH"})
    ::unsetenv(name);
  ready.store(true);
}

// The mode of an open that creates, from its variadic argument.
#define PATHWICK_MODE(flags)                                        \
  mode_t mode = 0;                                                  \
  if (((flags)&O_CREAT) != 0 || ((flags)&O_TMPFILE) == O_TMPFILE) { \
    va_list arguments;                                              \
    va_start(arguments, flags);                                     \
    mode = static_cast<mode_t>(va_arg(arguments, int));             \
    va_end(arguments);                                              \
  }

bool Creates(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
  static const TWrite real = Real<TWrite>("write");
  std::string path;
  if (Inject(FdCounts(fd, &path), "write", path)) return -1;
  return real(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
  static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  std::string path;
  if (Inject(FdCounts(fd, &path), "pwrite", path)) return -1;
  return real(fd, data, size, at);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t at) {
  static const auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
  std::string path;
  if (Inject(FdCounts(fd, &path), "pwrite64", path)) return -1;
  return real(fd, data, size, at);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
  static const auto real = Real<ssize_t (*)(int, const struct iovec*, int)>("writev");
  std::string path;
  if (Inject(FdCounts(fd, &path), "writev", path)) return -1;
  return real(fd, parts, count);
}

int fsync(int fd) {
  static const auto real = Real<int (*)(int)>("fsync");
  std::string path;
  if (Inject(FdCounts(fd, &path), "fsync", path)) return -1;
  return real(fd);
}

int fdatasync(int fd) {
  static const auto real = Real<int (*)(int)>("fdatasync");
  std::string path;
  if (Inject(FdCounts(fd, &path), "fdatasync", path)) return -1;
  return real(fd);
}

int rename(const char* from, const char* to) {
  static const auto real = Real<int (*)(const char*, const char*)>("rename");
  std::string path;
  if (Inject(AtCounts(AT_FDCWD, to, &path), "rename", path)) return -1;
  return real(from, to);
}

int renameat(int fromAt, const char* from, int toAt, const char* to) {
  static const auto real = Real<int (*)(int, const char*, int, const char*)>("renameat");
  std::string path;
  if (Inject(AtCounts(toAt, to, &path), "renameat", path)) return -1;
  return real(fromAt, from, toAt, to);
}

int renameat2(int fromAt, const char* from, int toAt, const char* to, unsigned flags) {
  static const auto real = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  std::string path;
  if (Inject(AtCounts(toAt, to, &path), "renameat2", path)) return -1;
  return real(fromAt, from, toAt, to, flags);
}

int mkdir(const char* name, mode_t mode) {
  static const auto real = Real<int (*)(const char*, mode_t)>("mkdir");
  std::string path;
  if (Inject(AtCounts(AT_FDCWD, name, &path), "mkdir", path)) return -1;
  return real(name, mode);
}

int mkdirat(int at, const char* name, mode_t mode) {
  static const auto real = Real<int (*)(int, const char*, mode_t)>("mkdirat");
  std::string path;
  if (Inject(AtCounts(at, name, &path), "mkdirat", path)) return -1;
  return real(at, name, mode);
}

int open(const char* name, int flags, ...) {
  static const auto real = Real<TOpen>("open");
  PATHWICK_MODE(flags)
  std::string path;
  if (Creates(flags) && Inject(AtCounts(AT_FDCWD, name, &path), "open", path)) return -1;
  return real(name, flags, mode);
}

int open64(const char* name, int flags, ...) {
  static const auto real = Real<TOpen>("open64");
  PATHWICK_MODE(flags)
  std::string path;
  if (Creates(flags) && Inject(AtCounts(AT_FDCWD, name, &path), "open64", path)) return -1;
  return real(name, flags, mode);
}

int openat(int at, const char* name, int flags, ...) {
  static const auto real = Real<int (*)(int, const char*, int, ...)>("openat");
  PATHWICK_MODE(flags)
  std::string path;
  if (Creates(flags) && Inject(AtCounts(at, name, &path), "openat", path)) return -1;
  return real(at, name, flags, mode);
}

int openat64(int at, const char* name, int flags, ...) {
  static const auto real = Real<int (*)(int, const char*, int, ...)>("openat64");
  PATHWICK_MODE(flags)
  std::string path;
  if (Creates(flags) && Inject(AtCounts(at, name, &path), "openat64", path)) return -1;
  return real(at, name, flags, mode);
}

}  // extern "C"
