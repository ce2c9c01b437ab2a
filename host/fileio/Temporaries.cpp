// The temporaries FileStream and SaveBatch write: their names, and their
// removal on the signals that end the process while one has a name.
#include "host/fileio/Temporaries.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

#include "host/fileio/FileStream.h"
#include "host/fileio/SaveBatch.h"

using tq::fileio::detail::DirectoryOf;

std::string tq::fileio::detail::BaseOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name for a temporary beside base that no file has: ".BASE.tmpXXXXXX",
// BASE cut to 200 bytes, so that the temporary of a file whose name is as
// long as a folder entry may be (255 bytes) still has a name that fits.
std::string tq::fileio::detail::TemporaryName(const std::string& directory,
                                              const std::string& base) {
  static std::atomic<unsigned> counter{0};
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned long long n = static_cast<unsigned long long>(std::time(nullptr)) * 1000003u ^
                         static_cast<unsigned long long>(getpid()) << 20 ^ counter++ * 7919u;
  std::string suffix;
  for (int i = 0; i < 6; ++i, n /= 36) suffix += kDigits[n % 36];
  return directory + "/." + base.substr(0, 200) + ".tmp" + suffix;
}

namespace {

// --- named temporaries and signals ------------------------------------------
//
// Where a temporary must have a name while it is written, every signal whose
// default action ends the process removes it before the signal takes its
// course (the handler that was there before, or the default). A signal the
// process ignores stays ignored: it ends nothing (tqhost ignores SIGXFSZ to
// see EFBIG, a program may ignore SIGPIPE), and the temporary is still in use.
// A fault an instruction raised (SIGSEGV, SIGBUS, SIGFPE, SIGILL) is not
// raised again: the handler returns and the instruction faults anew under
// the action restored, so that what handles it (a sanitizer, a debugger, a
// core dump) sees the fault itself.

// Term or Core by default on Linux (signal(7)); the real-time signals, also
// Term, are added when the handlers are installed.
constexpr int kCleanupSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
// A few streams open at once, and every named temporary a batch holds.
constexpr std::size_t kSlots = tq::fileio::SaveBatch::kMaxChunk + 8;
char pendingNames[kSlots][PATH_MAX];
volatile std::sig_atomic_t pendingUsed[kSlots];
struct sigaction previousActions[NSIG];
volatile std::sig_atomic_t guarded[NSIG];

void RemovePendingAndRaise(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (pendingUsed[i] != 0) unlink(pendingNames[i]);
  }
  if (signal > 0 && signal < NSIG && guarded[signal] != 0) {
    sigaction(signal, &previousActions[signal], nullptr);
    guarded[signal] = 0;
  }
  const bool fault =
      (signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL) &&
      info != nullptr && info->si_code > 0 && info->si_code != SI_KERNEL;
  if (!fault) raise(signal);
  errno = savedErrno;
}

// Takes over every such signal the process does not ignore and has not given
// to RemovePendingAndRaise already (again each time: an action the program
// set since is kept to be restored).
void InstallHandlers() {
  struct sigaction action {};
  action.sa_sigaction = &RemovePendingAndRaise;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;  // on the alternate stack, where there is one
  sigemptyset(&action.sa_mask);
  auto guard = [&action](int signal) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) return;
    const bool info = (current.sa_flags & SA_SIGINFO) != 0;
    if (info && current.sa_sigaction == &RemovePendingAndRaise) return;
    if (!info && current.sa_handler == SIG_IGN) {
      guarded[signal] = 0;
      return;
    }
    previousActions[signal] = current;
    guarded[signal] = 1;
    sigaction(signal, &action, nullptr);
  };
  for (const int signal : kCleanupSignals) guard(signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) guard(signal);
}

}  // namespace

// Registers a temporary's name for removal on those signals; -1 when every
// slot is taken or the name is too long (the temporary is then unguarded).
int tq::fileio::detail::GuardName(const std::string& name) {
  InstallHandlers();
  if (name.size() >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (pendingUsed[i] != 0) continue;
    std::memcpy(pendingNames[i], name.c_str(), name.size() + 1);
    pendingUsed[i] = 1;
    return static_cast<int>(i);
  }
  return -1;
}

std::string tq::fileio::detail::DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void tq::fileio::detail::Unguard(const std::string& name) {
  for (std::size_t i = 0; i < kSlots; ++i) {
    if (pendingUsed[i] != 0 && name == pendingNames[i]) pendingUsed[i] = 0;
  }
}

int tq::fileio::detail::NameUnnamed(int fd, const std::string& target, std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const std::string directory = DirectoryOf(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = TemporaryName(directory, BaseOf(target));
    GuardName(candidate);
    if (tq::fileio::Sys().linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(),
                                 AT_SYMLINK_FOLLOW) == 0) {
      name = candidate;
      return 0;
    }
    const int err = errno;
    Unguard(candidate);
    if (err != EEXIST) return err;
  }
  return EEXIST;
}
