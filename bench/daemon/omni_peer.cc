// An omniORB server of BenchBinding for the daemon bench: it answers the
// binding call with fixed values, as talvod answers it for a server that
// runs. It listens on the loopback address (the port given as the first
// argument, 0: one the system picks) under the object key "Binding", and
// serves until it is killed.
//
// Threading: omniORB's own (a thread per connection).

#include <cstdio>
#include <string>

#include "bench_peer.hh"

namespace {

class Binding : public POA_BenchBinding {
 public:
  void getImplementationDetails(const char*, const char*, const char*,
                                CORBA::String_out code, CORBA::String_out comms,
                                CORBA::String_out port,
                                CORBA::String_out policy) override {
    code = CORBA::string_dup("xdr");
    comms = CORBA::string_dup("tcp");
    port = CORBA::string_dup("7601");
    policy = CORBA::string_dup("shared");
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string endpoint =
      "giop:tcp:127.0.0.1:" + std::string(argc > 1 ? argv[1] : "0");
  const char* options[][2] = {{"endPoint", endpoint.c_str()},
                              {nullptr, nullptr}};
  int no_args = 1;
  CORBA::ORB_var orb = CORBA::ORB_init(no_args, argv, "omniORB4", options);
  CORBA::Object_var obj = orb->resolve_initial_references("omniINSPOA");
  PortableServer::POA_var poa = PortableServer::POA::_narrow(obj);
  PortableServer::POAManager_var manager = poa->the_POAManager();
  Binding servant;
  PortableServer::ObjectId_var id =
      PortableServer::string_to_ObjectId("Binding");
  poa->activate_object_with_id(id, &servant);
  manager->activate();
  std::printf("ready\n");
  std::fflush(stdout);
  orb->run();
  return 0;
}
