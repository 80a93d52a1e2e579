// The daemon's log: DaemonLogFile writes messages to a file, DaemonOutput
// is the message handler that the trace dispatcher knows by the name
// "DaemonOutput" and that hands each message to its outputs.
//
// Thread safety: none; trace lines are written by the service thread.

#ifndef TALVO_DAEMON_DAEMON_LOG_H_
#define TALVO_DAEMON_DAEMON_LOG_H_

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/config/trace_stream.h"

namespace talvo::daemon {

inline constexpr char kDaemonOutputName[] = "DaemonOutput";

// Anything with one write operation that DaemonOutput can write to.
class OutputTarget {
 public:
  virtual ~OutputTarget() = default;
  virtual void write(std::string_view text) = 0;
};

// One file, opened for appending on construction (created 0600; a symbolic
// link is never followed) and closed on destruction. A file that cannot be
// opened makes a writer that drops what it is given.
class DaemonLogFile : public OutputTarget {
 public:
  explicit DaemonLogFile(const std::string& path);
  // Writes `text` as it stands, flushed at once unless line flushing is off.
  void write(std::string_view text) override;
  // On by default; the main loop turns it off and calls flush() at the end
  // of each pass, as it does for standard output.
  void setLineFlush(bool on) { line_flush_ = on; }
  void flush();
  bool isOpen() const { return file_ != nullptr; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  bool line_flush_ = true;
};

// Writes each message as one line (its control characters escaped, see
// platform/log_text.h) to the primary output and, if set, to the secondary
// one. The outputs are not owned and must outlive
// the handler's use (the daemon removes the handler before the file).
class DaemonOutput : public MessageHandler {
 public:
  DaemonOutput(OutputTarget* primary, OutputTarget* secondary)
      : primary_(primary), secondary_(secondary) {}
  void process(std::string_view message) override;

 private:
  OutputTarget* primary_;
  OutputTarget* secondary_;
};

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_LOG_H_
