// Test stand-in for the run time's trace stream, used only while the
// configuration layer does not provide it yet.

#include <iostream>

#include "runtime/config/trace_stream.h"

namespace talvo {

void StdOutMessageHandler::process(std::string_view message) {
  std::cout << message << std::endl;
}

MessageDispatcher::MessageDispatcher() = default;
MessageDispatcher::~MessageDispatcher() = default;

void MessageDispatcher::add(const std::string& name,
                            std::unique_ptr<MessageHandler> handler) {
  remove(name);
  entries_.push_back(Entry{name, std::move(handler), true});
}
bool MessageDispatcher::activate(const std::string& name) {
  for (Entry& e : entries_) {
    if (e.name == name) return e.active = true;
  }
  return false;
}
bool MessageDispatcher::deactivate(const std::string& name) {
  for (Entry& e : entries_) {
    if (e.name == name) {
      e.active = false;
      return true;
    }
  }
  return false;
}
bool MessageDispatcher::remove(const std::string& name) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->name == name) {
      entries_.erase(it);
      return true;
    }
  }
  return false;
}
bool MessageDispatcher::isActive(const std::string& name) const {
  for (const Entry& e : entries_) {
    if (e.name == name) return e.active;
  }
  return false;
}
MessageHandler* MessageDispatcher::find(const std::string& name) const {
  for (const Entry& e : entries_) {
    if (e.name == name) return e.handler.get();
  }
  return nullptr;
}
void MessageDispatcher::dispatch(std::string_view message) {
  for (Entry& e : entries_) {
    if (e.active) e.handler->process(message);
  }
}

TalvoStream::TalvoStream(int level) : level_(level) {}
void TalvoStream::setMsgDispatcher(MessageDispatcher* d) { dispatcher_ = d; }
TalvoStream& TalvoStream::operator<<(std::string_view text) {
  line_.append(text);
  return *this;
}
TalvoStream& TalvoStream::operator<<(const char* text) {
  return *this << std::string_view(text ? text : "(null)");
}
TalvoStream& TalvoStream::operator<<(const std::string& text) {
  return *this << std::string_view(text);
}
TalvoStream& TalvoStream::operator<<(char c) {
  line_.push_back(c);
  return *this;
}
TalvoStream& TalvoStream::operator<<(std::int16_t v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(std::uint16_t v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(std::int32_t v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(std::uint32_t v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(std::int64_t v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(std::uint64_t v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(float v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(double v) {
  return *this << std::to_string(v);
}
TalvoStream& TalvoStream::operator<<(EndLine) {
  std::string text;
  text.swap(line_);
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find('\n', start);
    if (dispatcher_) {
      dispatcher_->dispatch(std::string_view(text).substr(
          start, end == std::string::npos ? std::string::npos : end - start));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return *this;
}

MessageDispatcher& traceDispatcher() {
  static MessageDispatcher* dispatcher = [] {
    auto* d = new MessageDispatcher;
    d->add("QV_StdOut", std::make_unique<StdOutMessageHandler>());
    return d;
  }();
  return *dispatcher;
}

TalvoStream& traceStream() {
  static TalvoStream* stream = [] {
    auto* s = new TalvoStream(1);
    s->setMsgDispatcher(&traceDispatcher());
    return s;
  }();
  return *stream;
}

}  // namespace talvo
