#include "Output.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "Input.hpp"

namespace {

// The temporaries that exist, for the signal handler: a name is stored before its file is
// created and its slot freed only after the file was removed or renamed, so that a signal at
// any moment finds every temporary (unlinking a name whose file is gone does no harm).
constexpr int max_temporaries = 8;
constexpr std::size_t max_temporary_name = max_file_name + 32;
char temporary_names[max_temporaries][max_temporary_name + 1];
volatile std::sig_atomic_t temporary_in_use[max_temporaries];

const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

long long write_limit = -1;  // SPLINEFIT_WRITE_LIMIT, or -1
long long bytes_written = 0;

[[noreturn]] void output_fault(const std::string& name, const std::string& what) {
  throw OutputError(name + ": " + what + ".");
}

// Async-signal-safe: reads the fixed table and calls unlink only.
void remove_temporaries() {
  int saved = errno;
  for (int k = 0; k < max_temporaries; k++)
    if (temporary_in_use[k] != 0) unlink(temporary_names[k]);
  errno = saved;
}

// Installed with SA_RESETHAND and all three signals blocked while it runs: the raised signal
// stays pending until the handler returns and then takes its default action, the end of the
// process with the status a shell reports as 128 + sig.
extern "C" void remove_temporaries_and_end(int sig) {
  remove_temporaries();
  raise(sig);
}

extern "C" void remove_temporaries_at_exit() { remove_temporaries(); }

void install_cleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(remove_temporaries_at_exit);
  struct sigaction action {};
  action.sa_handler = remove_temporaries_and_end;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int sig : cleanup_signals) sigaddset(&action.sa_mask, sig);
  for (int sig : cleanup_signals) {
    struct sigaction previous {};
    sigaction(sig, nullptr, &previous);
    // A signal ignored when the run started (nohup, a background job) stays ignored.
    if (previous.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
  }
}

// Stores `name` in a free slot before anything creates the file; returns the slot.
int register_temporary(const std::string& name, const std::string& shown) {
  if (name.size() > max_temporary_name)
    output_fault(shown, std::string("cannot be created: ") + std::strerror(ENAMETOOLONG));
  for (int k = 0; k < max_temporaries; k++) {
    if (temporary_in_use[k] != 0) continue;
    std::memcpy(temporary_names[k], name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);  // the name is whole before it is used
    temporary_in_use[k] = 1;
    return k;
  }
  output_fault(shown, "cannot be created: more than 8 output files at once");
}

// The directory that holds `name` ("data/run1.res": "data/"; "datarun1.res": ".").
std::string directory_of(const std::string& name) {
  std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? "." : name.substr(0, slash + 1);
}

// Makes the directory's entries (the renames) durable. A file system that cannot sync a
// directory refuses with EINVAL; the files are in place then, so that is not a failure.
void sync_directory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

// Digits only: a sign, blanks or a unit would be a guess at what was meant. A number too large
// for a long long stands for more bytes than any disk holds: no limit.
std::string take_write_limit() {
  write_limit = -1;
  const char* setting = std::getenv("SPLINEFIT_WRITE_LIMIT");
  if (setting == nullptr) return "";
  const std::string_view text = setting;
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    std::string shown(text.substr(0, 24));
    if (text.size() > 24) shown += "...";
    return "SPLINEFIT_WRITE_LIMIT is \"" + shown +
           "\"; it must be a whole number of bytes, 0 or more";
  }
  long long limit = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
  write_limit = error == std::errc::result_out_of_range ? LLONG_MAX : limit;
  return "";
}

ssize_t OutputFile::write_to_file(void* cookie, const char* buffer, std::size_t size) {
  auto* file = static_cast<OutputFile*>(cookie);
  std::size_t done = 0, allowed = size;
  if (write_limit >= 0)
    allowed = static_cast<std::size_t>(std::max(
        0LL, std::min<long long>(static_cast<long long>(size), write_limit - bytes_written)));
  while (done < allowed) {
    ssize_t n = write(file->fd_, buffer + done, allowed - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes_written += static_cast<long long>(done);
  file->start_writeback(done);
  if (done == size) return static_cast<ssize_t>(size);
  if (file->error_ == 0) file->error_ = done < allowed ? errno : ENOSPC;
  return 0;  // a cookie stream's sign of a write error (it sets the stream's error flag)
}

// Every few megabytes the disk is asked to start writing what has come so far, without waiting
// for it, so that the fsync before the rename finds little left to do: the writing overlaps the
// rest of the run instead of following it.
void OutputFile::start_writeback(std::size_t more) {
  constexpr long long step = 4 << 20;
  written_ += static_cast<long long>(more);
  if (written_ - started_ < step) return;
#ifdef SYNC_FILE_RANGE_WRITE
  sync_file_range(fd_, started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
#endif
  started_ = written_;
}

OutputFile::OutputFile(std::string name)
    : name_(std::move(name)), temporary_(name_ + ".partial-" + std::to_string(getpid())) {
  install_cleanup();
  struct stat final_file {};
  bool exists = stat(name_.c_str(), &final_file) == 0;
  if (exists && S_ISDIR(final_file.st_mode))
    output_fault(name_, std::string("cannot be created: ") + std::strerror(EISDIR));
  slot_ = register_temporary(temporary_, name_);
  unlink(temporary_.c_str());  // a leftover of a killed run that had this process id
  fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  int error = errno;
  if (fd_ >= 0) {
    if (exists) fchmod(fd_, final_file.st_mode & 07777);
    f_ = fopencookie(this, "w", {nullptr, write_to_file, nullptr, nullptr});
    error = errno;
  }
  if (f_ == nullptr) {
    discard();
    output_fault(name_, std::string("cannot be created: ") + std::strerror(error));
  }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::finish() {
  if (std::fflush(f_) != 0 || std::ferror(f_) != 0) return;  // sync_and_close reports it
  syncing_ = std::thread([this] { sync_error_ = fsync(fd_) != 0 ? errno : 0; });
}

// Flushes the stream and syncs the file (or waits for the sync that finish started): "" or the
// reason of the first failure. Closes both.
std::string OutputFile::sync_and_close() {
  std::string reason;
  if (std::fflush(f_) != 0 || std::ferror(f_) != 0)
    reason = std::strerror(error_ != 0 ? error_ : errno);
  std::fclose(f_);
  f_ = nullptr;
  if (syncing_.joinable())
    syncing_.join();
  else
    sync_error_ = fsync(fd_) != 0 ? errno : 0;
  if (sync_error_ != 0 && reason.empty()) reason = std::strerror(sync_error_);
  if (close(fd_) != 0 && reason.empty()) reason = std::strerror(errno);
  fd_ = -1;
  return reason;
}

void OutputFile::discard() {
  if (syncing_.joinable()) syncing_.join();
  if (f_ != nullptr) std::fclose(f_);
  if (fd_ >= 0) close(fd_);
  f_ = nullptr;
  fd_ = -1;
  if (slot_ < 0) return;
  unlink(temporary_.c_str());
  temporary_in_use[slot_] = 0;
  slot_ = -1;
}

void commit_outputs(const std::vector<OutputFile*>& files) {
  std::string failed, reason;
  for (OutputFile* file : files) {
    std::string error = file->sync_and_close();
    if (!error.empty() && failed.empty()) {
      failed = file->name();
      reason = error;
    }
  }
  if (!failed.empty()) {
    for (OutputFile* file : files) file->discard();
    output_fault(failed, "cannot be written: " + reason);
  }
  // All or none of the renames, as far as the three signals go: one that arrives meanwhile
  // waits, and then ends a run whose files are complete.
  sigset_t held, previous;
  sigemptyset(&held);
  for (int sig : cleanup_signals) sigaddset(&held, sig);
  sigprocmask(SIG_BLOCK, &held, &previous);
  std::set<std::string> directories;
  for (OutputFile* file : files) {
    if (std::rename(file->temporary_.c_str(), file->name_.c_str()) != 0) {
      failed = file->name_;
      reason = std::strerror(errno);
      break;
    }
    temporary_in_use[file->slot_] = 0;
    file->slot_ = -1;
    directories.insert(directory_of(file->name_));
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  for (const std::string& directory : directories) sync_directory(directory);
  if (failed.empty()) return;
  for (OutputFile* file : files) file->discard();
  output_fault(failed, "cannot be created: " + reason);
}

// Two runs may write the same data set in the same directory at once (a user starts a second
// one by mistake, a script runs variants). Removing every temporary of the name would pull the
// file from under the other run's rename and fail it; so only temporaries whose process is gone
// are removed (kill(pid, 0) fails with ESRCH), and those with this process's own id, which no
// other live process can have. A process id reused since by an unrelated process keeps its
// leftover until a later run; it is never taken for a result either way.
void remove_stale_temporaries(const std::string& name) {
  namespace fs = std::filesystem;
  std::string directory = directory_of(name);
  std::string prefix = name.substr(name.rfind('/') + 1) + ".partial-";
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    std::string entry = it->path().filename().string();
    if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) continue;
    std::string digits = entry.substr(prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid == getpid() || (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH))
      unlink(it->path().c_str());
  }
}
