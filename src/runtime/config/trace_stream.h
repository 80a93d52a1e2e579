// Message output and the run time's trace stream.
//
// A MessageDispatcher holds named message handlers in a chain; every message
// (one trace line, without its line end) reaches each active handler in
// chain order. TalvoStream collects what is written to it and hands each
// completed line to its dispatcher when `talvo::endl` is written.
//
// traceStream() is the process-wide stream all trace lines go to; it is
// attached to a dispatcher holding the standard-output handler
// "QV_StdOut". The daemon activates its own handlers (for example
// "DaemonOutput") on traceDispatcher().
//
// Thread safety: none; the daemon's service thread alone writes trace lines.

#ifndef TALVO_RUNTIME_CONFIG_TRACE_STREAM_H_
#define TALVO_RUNTIME_CONFIG_TRACE_STREAM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talvo {

class MessageHandler {
 public:
  virtual ~MessageHandler() = default;
  // Receives one message: a line without its line end.
  virtual void process(std::string_view message) = 0;
};

// Writes each message and a line end to standard output, flushed at once
// unless line flushing is turned off (see setLineFlush).
class StdOutMessageHandler : public MessageHandler {
 public:
  void process(std::string_view message) override;

  // Process-wide, on by default. A program that serves requests from an
  // event loop turns it off and calls flushOutput() before each wait, so
  // that the lines of one pass reach standard output in one write instead
  // of one write each. Safe from any thread.
  static void setLineFlush(bool on);

  // Writes out whatever standard output holds.
  static void flushOutput();
};

class MessageDispatcher {
 public:
  MessageDispatcher();
  ~MessageDispatcher();
  MessageDispatcher(const MessageDispatcher&) = delete;
  MessageDispatcher& operator=(const MessageDispatcher&) = delete;

  // Registers `handler` under `name` (owned by the dispatcher) and puts it
  // at the end of the chain, active. Replaces a handler of the same name.
  void add(const std::string& name, std::unique_ptr<MessageHandler> handler);
  // Puts a registered handler back into the chain; false when no handler of
  // that name is registered.
  bool activate(const std::string& name);
  // Takes a handler out of the chain while it stays registered; false when
  // unknown.
  bool deactivate(const std::string& name);
  // Removes and destroys a handler; false when unknown.
  bool remove(const std::string& name);
  bool isActive(const std::string& name) const;
  // True when some handler is in the chain.
  bool anyActive() const;
  // The registered handler of that name, or null. Owned by the dispatcher.
  MessageHandler* find(const std::string& name) const;

  // Hands `message` to every active handler in chain order.
  void dispatch(std::string_view message);

 private:
  struct Entry {
    std::string name;
    std::unique_ptr<MessageHandler> handler;
    bool active;
  };
  std::vector<Entry> entries_;
};

// The end-of-line manipulator of TalvoStream.
struct EndLine {};
inline constexpr EndLine endl{};

class TalvoStream {
 public:
  // `level` is kept for callers that ask for it; the run time passes 1.
  explicit TalvoStream(int level = 1);

  // Attaches the stream to a dispatcher (not owned; may be null, then lines
  // are dropped).
  void setMsgDispatcher(MessageDispatcher* dispatcher);
  MessageDispatcher* msgDispatcher() const { return dispatcher_; }
  int level() const { return level_; }
  // True when a line ended now would reach a handler. Callers on busy paths
  // skip building costly trace text when it would not.
  bool active() const {
    return dispatcher_ != nullptr && dispatcher_->anyActive();
  }

  TalvoStream& operator<<(std::string_view text);
  TalvoStream& operator<<(const char* text);  // null writes "(null)"
  TalvoStream& operator<<(const std::string& text);
  TalvoStream& operator<<(char c);
  TalvoStream& operator<<(std::int16_t v);
  TalvoStream& operator<<(std::uint16_t v);
  TalvoStream& operator<<(std::int32_t v);
  TalvoStream& operator<<(std::uint32_t v);
  TalvoStream& operator<<(std::int64_t v);
  TalvoStream& operator<<(std::uint64_t v);
  TalvoStream& operator<<(float v);
  TalvoStream& operator<<(double v);
  // Ends the line: hands the collected text to the dispatcher. A text with
  // embedded line ends is handed over line by line.
  TalvoStream& operator<<(EndLine);

  // The text collected since the last line end.
  const std::string& pending() const { return line_; }

 private:
  int level_;
  MessageDispatcher* dispatcher_ = nullptr;
  std::string line_;
};

// The process-wide trace dispatcher and stream (created on first use, with
// the standard-output handler "QV_StdOut" active).
MessageDispatcher& traceDispatcher();
TalvoStream& traceStream();

}  // namespace talvo

#endif  // TALVO_RUNTIME_CONFIG_TRACE_STREAM_H_
