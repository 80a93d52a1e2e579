#include "runtime/config/trace_stream.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace talvo {
namespace {

// Records every message it receives, tagged with its own name, into a log
// shared by several handlers so that the order across handlers shows.
class Recorder : public MessageHandler {
 public:
  Recorder(std::string tag, std::vector<std::string>* log)
      : tag_(std::move(tag)), log_(log) {}
  void process(std::string_view message) override {
    log_->push_back(tag_ + ":" + std::string(message));
  }

 private:
  std::string tag_;
  std::vector<std::string>* log_;
};

// --- round trips ---------------------------------------------------------

TEST(TraceStreamRoundTrip, LinesReachActiveHandlersInChainOrder) {
  std::vector<std::string> log;
  MessageDispatcher d;
  d.add("b", std::make_unique<Recorder>("b", &log));
  d.add("a", std::make_unique<Recorder>("a", &log));
  TalvoStream s(1);
  s.setMsgDispatcher(&d);
  s << "x=" << std::int32_t{-5} << ' ' << std::uint16_t{7} << " "
    << std::string("s") << endl;
  EXPECT_EQ(log, (std::vector<std::string>{"b:x=-5 7 s", "a:x=-5 7 s"}));
  EXPECT_EQ(s.pending(), "");
  // Numbers and a null text; embedded line ends split the message.
  d.deactivate("a");
  log.clear();
  s << std::int16_t{-32768} << "," << std::uint32_t{4294967295u} << ","
    << std::int64_t{-1} << "," << 1.5 << "," << 0.25f << ","
    << static_cast<const char*>(nullptr) << endl;
  s << "one\ntwo" << endl << endl;
  EXPECT_EQ(log,
            (std::vector<std::string>{"b:-32768,4294967295,-1,1.5,0.25,(null)",
                                      "b:one", "b:two", "b:"}));
}

TEST(TraceStreamRoundTrip, ProcessWideStreamHasStdOutActive) {
  EXPECT_TRUE(traceDispatcher().isActive("QV_StdOut"));
  EXPECT_NE(traceDispatcher().find("QV_StdOut"), nullptr);
  EXPECT_EQ(traceStream().msgDispatcher(), &traceDispatcher());
  EXPECT_EQ(traceStream().level(), 1);
  testing::internal::CaptureStdout();
  traceStream() << "[talvod: hello" << endl;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[talvod: hello\n");
}

// Holds what reaches it and counts the flushes asked of it.
class CountingBuf : public std::stringbuf {
 public:
  int syncs = 0;

 protected:
  int sync() override {
    ++syncs;
    return std::stringbuf::sync();
  }
};

TEST(TraceStreamRoundTrip, StdOutLinesFlushedEachOrOnceWhenAsked) {
  CountingBuf buf;
  std::streambuf* old = std::cout.rdbuf(&buf);
  StdOutMessageHandler h;
  h.process("a");
  EXPECT_EQ(buf.syncs, 1);  // the default: every line at once
  StdOutMessageHandler::setLineFlush(false);
  h.process("b");
  h.process("c");
  EXPECT_EQ(buf.syncs, 1);  // held for the caller's flush
  StdOutMessageHandler::flushOutput();
  EXPECT_EQ(buf.syncs, 2);
  StdOutMessageHandler::setLineFlush(true);  // turning it on flushes too
  EXPECT_EQ(buf.syncs, 3);
  h.process("d");
  EXPECT_EQ(buf.syncs, 4);
  std::cout.rdbuf(old);
  EXPECT_EQ(buf.str(), "a\nb\nc\nd\n");
}

// --- boundaries ----------------------------------------------------------

TEST(TraceStreamBoundary, DeactivatedHandlerIsSkippedAndReactivated) {
  std::vector<std::string> log;
  MessageDispatcher d;
  d.add("a", std::make_unique<Recorder>("a", &log));
  d.add("b", std::make_unique<Recorder>("b", &log));
  EXPECT_FALSE(d.deactivate("none"));
  EXPECT_TRUE(d.deactivate("a"));
  EXPECT_FALSE(d.isActive("a"));
  EXPECT_NE(d.find("a"), nullptr);  // still registered
  d.dispatch("1");
  EXPECT_TRUE(d.activate("a"));
  d.dispatch("2");
  // Reactivation keeps the handler's place in the chain.
  EXPECT_EQ(log, (std::vector<std::string>{"b:1", "a:2", "b:2"}));
}

TEST(TraceStreamBoundary, AddReplacesHandlerOfSameName) {
  std::vector<std::string> log;
  MessageDispatcher d;
  d.add("a", std::make_unique<Recorder>("old", &log));
  d.add("a", std::make_unique<Recorder>("new", &log));
  d.dispatch("m");
  EXPECT_EQ(log, (std::vector<std::string>{"new:m"}));
}

TEST(TraceStreamBoundary, StreamWithoutDispatcherDropsLines) {
  TalvoStream s;
  s << "lost" << endl;
  EXPECT_EQ(s.pending(), "");
  s << "kept";
  EXPECT_EQ(s.pending(), "kept");
}

// --- error paths ---------------------------------------------------------

// A handler that writes to the stream it is fed from must not corrupt the
// line being handed out nor recurse forever.
class Echo : public MessageHandler {
 public:
  Echo(TalvoStream* s, std::vector<std::string>* log) : s_(s), log_(log) {}
  void process(std::string_view message) override {
    log_->push_back(std::string(message));
    if (message == "first") *s_ << "second" << endl;
  }

 private:
  TalvoStream* s_;
  std::vector<std::string>* log_;
};

TEST(TraceStreamError, HandlerMayWriteToItsOwnStream) {
  std::vector<std::string> log;
  MessageDispatcher d;
  TalvoStream s;
  s.setMsgDispatcher(&d);
  d.add("echo", std::make_unique<Echo>(&s, &log));
  s << "first" << endl;
  EXPECT_EQ(log, (std::vector<std::string>{"first", "second"}));
}

}  // namespace
}  // namespace talvo
