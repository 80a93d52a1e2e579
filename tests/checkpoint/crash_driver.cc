// Stands in for the daemon in the fault-injection test: takes over what
// the checkpoint file lists, then launches and kills stand-in servers
// ("sleep 60") until it is killed, through the activator and checkpoint
// the daemon uses.
//
//   talvo_checkpoint_crash_driver <checkpoint file> <seed>
//
// Writes "L <pid>" once a launch is recorded and "K <pid>" before a kill,
// each line in one write to standard output. Exit 3: the file was refused.

#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "checkpoint/daemon_checkpoint.h"

using namespace talvo;

namespace {

void report(char what, std::int32_t pid) {
  std::string text = std::string(1, what) + " " + std::to_string(pid) + "\n";
  if (::write(1, text.data(), text.size()) < 0) std::_Exit(4);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  traceDispatcher().deactivate("QV_StdOut");
  const std::string path = argv[1];
  checkpoint::DaemonCheckPoint cp;
  CORBA::Environment env;
  cp.openForReading(path, CORBA::Environment::defaultEnvironment());
  cp.openForWriting(path, env);
  if (env.exception() != nullptr) return 3;
  testing::FakeRuntime runtime;
  PosixActivator activator(runtime, &cp);
  checkpoint::transferState(cp, activator, path, env);

  std::mt19937 random(static_cast<unsigned>(std::atoi(argv[2])));
  // Ports and markers of several lengths, so that lines are rewritten
  // longer and shorter as well as in place.
  const char* ports[] = {"7", "7601", "760111"};
  const char* markers[] = {"m", "mm", "obj1"};
  for (int op = 0; op < 100000; ++op) {
    const std::string server = "s" + std::to_string(random() % 4);
    const std::string marker = markers[random() % 3];
    if (LaunchRecord* r = activator.isServerAlive(server, marker, {})) {
      report('K', r->processId());
      activator.killServer(server, marker, {});
      continue;
    }
    LaunchRequest request;
    request.server = server;
    request.marker = request.markerPattern = marker;
    request.command = "sleep 60";
    request.code = "xdr";
    request.comms = "tcp";
    request.port = ports[random() % 3];
    if (activator.launchServer(request) == nullptr) {
      if (LaunchRecord* r = activator.getLaunchRecord(server, marker, {})) {
        report('L', r->processId());
      }
    }
  }
  return 0;
}
