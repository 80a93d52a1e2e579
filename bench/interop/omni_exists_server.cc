// talvo_omni_exists_server: an omniORB server of QV_daemon's serverExists
// alone (answering false), the yardstick the daemon's IIOP side is
// measured against. Prints its object's reference on standard output, then
// serves until SIGTERM or SIGINT.
//
// Threading: omniORB's thread per connection; the servant has no state.

#include <omniORB4/CORBA.h>
#include <pthread.h>
#include <signal.h>

#include <iostream>

#include "exists_only.hh"

namespace {

class ExistsOnly : public POA_QV_daemon {
 public:
  CORBA::Boolean serverExists(const char*) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  // Blocked before the ORB starts its threads, so that sigwait takes them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  CORBA::ORB_var orb = CORBA::ORB_init(argc, argv);
  CORBA::Object_var poa_object = orb->resolve_initial_references("RootPOA");
  PortableServer::POA_var poa = PortableServer::POA::_narrow(poa_object);
  ExistsOnly servant;
  PortableServer::ObjectId_var id = poa->activate_object(&servant);
  CORBA::Object_var object = poa->id_to_reference(id);
  CORBA::String_var text = orb->object_to_string(object);
  poa->the_POAManager()->activate();
  std::cout << text.in() << std::endl;

  int signal_number = 0;
  sigwait(&stop, &signal_number);
  orb->destroy();
  return 0;
}
