// Preloaded into tqhost by a test (LD_PRELOAD): putting a file in place by
// linkat fails (EIO) for a name holding $TQ_FAIL_LINK, as a disk failing
// while a batch of files is made durable.
#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  const char* bad = std::getenv("TQ_FAIL_LINK");
  if (bad != nullptr && *bad != '\0' && std::strstr(to, bad) != nullptr) {
    errno = EIO;
    return -1;
  }
  using Linkat = int (*)(int, const char*, int, const char*, int);
  static const auto real = reinterpret_cast<Linkat>(dlsym(RTLD_NEXT, "linkat"));
  return real(fromFolder, from, toFolder, to, flags);
}
