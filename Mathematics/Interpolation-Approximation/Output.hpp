// The run's output files, written so that a final name only ever holds a complete file: the
// previous run's, or this run's. A failed or interrupted run leaves the final names as they were.
//
// Each output goes first to a temporary "<final name>.partial-<pid>" (the same directory, so that
// rename replaces the final name in one step; the suffix marks it as unfinished and names its
// run). commit_outputs syncs the temporaries to disk, renames them all over their final names and
// syncs their directories. Until then a temporary is removed by the OutputFile's destructor (an
// exception: an InputError, an OutputError), at exit() (numerror) and by SIGINT, SIGTERM and
// SIGHUP, which then end the process by the signal's default action (status 128 + the signal's
// number in a shell).
// After SIGKILL or a power loss a temporary can stay; remove_stale_temporaries clears it.
//
// Program-wide state: the names of the existing temporaries, in fixed buffers that the signal
// handler reads, the write limit and the bytes written so far.
//
// SPLINEFIT_WRITE_LIMIT=<K> in the environment (taken by take_write_limit) makes every write after
// the first K bytes of the process's output files fail as on a full disk (ENOSPC); without it,
// writes are plain.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// An output file that cannot be created or written. what() is one sentence "<file>: cannot be
// created: <reason>." or "<file>: cannot be written: <reason>." without the program's name.
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads SPLINEFIT_WRITE_LIMIT for the output files to come. Returns "" when it is unset or a whole
// number of bytes, 0 or more (a number beyond the largest file size is no limit); else the
// sentence that refuses it, without its full stop ("SPLINEFIT_WRITE_LIMIT is "abc"; it must be a
// whole number of bytes, 0 or more"), and writes stay plain.
std::string take_write_limit();

// An output file under construction. Not copyable; it keeps its address while it exists.
class OutputFile {
 public:
  // Creates the temporary of `name` (replacing a leftover of this process id) and, on the first
  // call, installs the signal handler and the exit clean-up. OutputError "<name>: cannot be
  // created: <reason>." when the temporary cannot be created or `name` is a directory. A final
  // file that exists lends its permission bits to the new one.
  explicit OutputFile(std::string name);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Unless committed: closes and removes the temporary; the final name is not touched.
  ~OutputFile();

  // The stream to write the content to (buffered; errors show at commit_outputs).
  std::FILE* get() const { return f_; }
  // Says the content is complete: flushes the stream and starts syncing the file to disk on a
  // thread of its own, so that the wait overlaps the rest of the run. Nothing may be written to
  // the stream after it; commit_outputs collects the outcome.
  void finish();
  const std::string& name() const { return name_; }

 private:
  friend void commit_outputs(const std::vector<OutputFile*>& files);
  static ssize_t write_to_file(void* cookie, const char* buffer, std::size_t size);
  std::string sync_and_close();
  void start_writeback(std::size_t more);
  void discard();

  std::string name_, temporary_;
  std::FILE* f_ = nullptr;
  int fd_ = -1;
  int slot_ = -1;       // index of the temporary's name in the signal handler's table
  int error_ = 0;       // errno of the first failed write
  int sync_error_ = 0;  // errno of a failed fsync
  std::thread syncing_;
  long long written_ = 0, started_ = 0;  // bytes written, and those whose writeback started
};

// Flushes, syncs (or waits for the syncs that finish started) and closes every file; when all were
// written completely, renames each over its final name, in order, with SIGINT, SIGTERM and SIGHUP
// held back until the last rename is done, then syncs the directories. Otherwise removes every
// temporary, leaves every final name as it was, and throws OutputError "<first failing name>:
// cannot be written: <reason>.". A rename that fails (the final name became a directory meanwhile)
// throws OutputError "<name>: cannot be created: ..."; the files renamed before it stay renamed.
void commit_outputs(const std::vector<OutputFile*>& files);

// Removes the temporaries of `name` left by runs that no longer exist (their process id is not
// alive) or that had this process's id; the temporaries of a run still going on stay.
void remove_stale_temporaries(const std::string& name);
