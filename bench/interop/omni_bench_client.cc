// talvo_omni_bench: times calls of an omniORB client over IIOP.
//
//   talvo_omni_bench REFERENCE exists CALLS THREADS
//       serverExists("bench") CALLS times on each of THREADS threads, all on
//       one object reference;
//   talvo_omni_bench REFERENCE greet CALLS 1 [--fresh]
//       Greeter::greet, on one reference (after the first call), or with
//       --fresh on a new reference made from the text for every call, so
//       that each call goes through whatever forwarding the reference
//       leads to.
// Prints "median_us=M p90_us=P calls_per_s=R" (latencies of single calls;
// the rate of all threads together over the wall time).
//
// Threading: THREADS threads share the ORB, as omniORB allows.

#include <omniORB4/CORBA.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Greeter.hh"
#include "QV_daemon.hh"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string reference;
  bool greet = false;
  bool fresh = false;
  int calls = 1000;
  int threads = 1;
};

// One thread's calls; each latency in microseconds.
std::vector<double> run(CORBA::ORB_ptr orb, const Options& o) {
  std::vector<double> latencies;
  latencies.reserve(o.calls);
  CORBA::Object_var object = orb->string_to_object(o.reference.c_str());
  QV_daemon_var daemon = QV_daemon::_unchecked_narrow(object);
  Greeter_var greeter = Greeter::_unchecked_narrow(object);
  if (o.greet) CORBA::String_var warm = greeter->greet("bench");
  for (int i = 0; i < o.calls; ++i) {
    Clock::time_point start = Clock::now();
    if (!o.greet) {
      daemon->serverExists("bench");
    } else if (o.fresh) {
      CORBA::Object_var fresh = orb->string_to_object(o.reference.c_str());
      Greeter_var g = Greeter::_unchecked_narrow(fresh);
      CORBA::String_var answer = g->greet("bench");
    } else {
      CORBA::String_var answer = greeter->greet("bench");
    }
    latencies.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - start)
            .count());
  }
  return latencies;
}

}  // namespace

int main(int argc, char** argv) {
  CORBA::ORB_var orb = CORBA::ORB_init(argc, argv);
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: talvo_omni_bench REFERENCE exists|greet CALLS "
                 "THREADS [--fresh]\n");
    return 2;
  }
  Options o{argv[1], std::string(argv[2]) == "greet",
            argc > 5 && std::string(argv[5]) == "--fresh", std::atoi(argv[3]),
            std::max(1, std::atoi(argv[4]))};
  std::vector<std::vector<double>> results(o.threads);
  int status = 0;
  Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < o.threads; ++t) {
    threads.emplace_back([&, t] {
      try {
        results[t] = run(orb, o);
      } catch (const CORBA::Exception& e) {
        std::fprintf(stderr, "call failed: %s\n", e._name());
        status = 1;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> all;
  for (const auto& r : results) all.insert(all.end(), r.begin(), r.end());
  if (status == 0 && !all.empty()) {
    std::sort(all.begin(), all.end());
    std::printf("median_us=%.1f p90_us=%.1f calls_per_s=%.0f\n",
                all[all.size() / 2], all[all.size() * 9 / 10],
                double(all.size()) / seconds);
  }
  orb->destroy();
  return status;
}
