// Message dispatcher, standard-output handler and the trace stream.
#include "runtime/config/trace_stream.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <iostream>

namespace talvo {

namespace {
std::atomic<bool> line_flush{true};
}  // namespace

void StdOutMessageHandler::process(std::string_view message) {
  std::cout << message << '\n';
  if (line_flush.load(std::memory_order_relaxed)) std::cout.flush();
}

void StdOutMessageHandler::setLineFlush(bool on) {
  line_flush.store(on, std::memory_order_relaxed);
  if (on) flushOutput();
}

void StdOutMessageHandler::flushOutput() { std::cout.flush(); }

MessageDispatcher::MessageDispatcher() = default;
MessageDispatcher::~MessageDispatcher() = default;

namespace {

template <class Entries>
auto findEntry(Entries& entries, const std::string& name) {
  return std::find_if(entries.begin(), entries.end(),
                      [&](const auto& e) { return e.name == name; });
}

}  // namespace

void MessageDispatcher::add(const std::string& name,
                            std::unique_ptr<MessageHandler> handler) {
  auto it = findEntry(entries_, name);
  if (it != entries_.end()) entries_.erase(it);
  entries_.push_back(Entry{name, std::move(handler), true});
}

bool MessageDispatcher::activate(const std::string& name) {
  auto it = findEntry(entries_, name);
  if (it == entries_.end()) return false;
  it->active = true;
  return true;
}

bool MessageDispatcher::deactivate(const std::string& name) {
  auto it = findEntry(entries_, name);
  if (it == entries_.end()) return false;
  it->active = false;
  return true;
}

bool MessageDispatcher::remove(const std::string& name) {
  auto it = findEntry(entries_, name);
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

bool MessageDispatcher::isActive(const std::string& name) const {
  auto it = findEntry(entries_, name);
  return it != entries_.end() && it->active;
}

bool MessageDispatcher::anyActive() const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const Entry& e) { return e.active; });
}

MessageHandler* MessageDispatcher::find(const std::string& name) const {
  auto it = findEntry(entries_, name);
  return it == entries_.end() ? nullptr : it->handler.get();
}

void MessageDispatcher::dispatch(std::string_view message) {
  // Index-based walk: a handler may add entries while it runs (the vector
  // may then reallocate), and an added handler sees later messages only.
  const std::size_t count = entries_.size();
  for (std::size_t i = 0; i < count && i < entries_.size(); ++i) {
    if (entries_[i].active && entries_[i].handler) {
      entries_[i].handler->process(message);
    }
  }
}

TalvoStream::TalvoStream(int level) : level_(level) {}

void TalvoStream::setMsgDispatcher(MessageDispatcher* dispatcher) {
  dispatcher_ = dispatcher;
}

TalvoStream& TalvoStream::operator<<(std::string_view text) {
  line_.append(text);
  return *this;
}

TalvoStream& TalvoStream::operator<<(const char* text) {
  line_.append(text ? text : "(null)");
  return *this;
}

TalvoStream& TalvoStream::operator<<(const std::string& text) {
  line_.append(text);
  return *this;
}

TalvoStream& TalvoStream::operator<<(char c) {
  line_.push_back(c);
  return *this;
}

namespace {

template <class T>
void appendNumber(std::string& out, T v) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec == std::errc()) out.append(buf, end);
}

void appendFloat(std::string& out, double v) {
  // printf's %g: six significant digits, as streams write by default.
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%g", v);
  if (n > 0) out.append(buf, std::min<std::size_t>(n, sizeof buf - 1));
}

}  // namespace

TalvoStream& TalvoStream::operator<<(std::int16_t v) {
  appendNumber(line_, v);
  return *this;
}
TalvoStream& TalvoStream::operator<<(std::uint16_t v) {
  appendNumber(line_, v);
  return *this;
}
TalvoStream& TalvoStream::operator<<(std::int32_t v) {
  appendNumber(line_, v);
  return *this;
}
TalvoStream& TalvoStream::operator<<(std::uint32_t v) {
  appendNumber(line_, v);
  return *this;
}
TalvoStream& TalvoStream::operator<<(std::int64_t v) {
  appendNumber(line_, v);
  return *this;
}
TalvoStream& TalvoStream::operator<<(std::uint64_t v) {
  appendNumber(line_, v);
  return *this;
}
TalvoStream& TalvoStream::operator<<(float v) {
  appendFloat(line_, v);
  return *this;
}
TalvoStream& TalvoStream::operator<<(double v) {
  appendFloat(line_, v);
  return *this;
}

TalvoStream& TalvoStream::operator<<(EndLine) {
  // Take the text out first: a handler may write to this stream again.
  std::string text;
  text.swap(line_);
  if (!dispatcher_) return *this;
  std::string_view rest(text);
  for (;;) {
    std::size_t nl = rest.find('\n');
    if (nl == std::string_view::npos) {
      dispatcher_->dispatch(rest);
      break;
    }
    dispatcher_->dispatch(rest.substr(0, nl));
    rest.remove_prefix(nl + 1);
  }
  return *this;
}

MessageDispatcher& traceDispatcher() {
  static MessageDispatcher dispatcher;
  static const bool initialised = [] {
    dispatcher.add("QV_StdOut", std::make_unique<StdOutMessageHandler>());
    return true;
  }();
  (void)initialised;
  return dispatcher;
}

TalvoStream& traceStream() {
  static TalvoStream stream(1);
  static const bool initialised = [] {
    stream.setMsgDispatcher(&traceDispatcher());
    return true;
  }();
  (void)initialised;
  return stream;
}

}  // namespace talvo
