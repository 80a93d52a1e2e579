// talvo_omni_call: a client of another ORB (omniORB) that calls the
// daemon's interface QV_daemon, or the sample server's Greeter, over IIOP,
// with stubs generated from the shipped IDL files (idl/).
//
//   talvo_omni_call REFERENCE OPERATION [ARGUMENT...]
//   talvo_omni_call REFERENCE --script FILE
//   talvo_omni_call REFERENCE --greet NAME
//
// REFERENCE is an "IOR:" text (as `talvoctl ior` prints it), a "corbaloc:"
// address, or a file holding either. An argument is a string, a number,
// "true"/"false", or a list of strings separated by ","; in a script each
// line is one call, its operation and arguments separated by "|". Each call
// prints one line: "OPERATION: " and the result and out values in order,
// separated by "|" (lists as [a,b], structs as {a,b}), or "!" and the
// system exception's name, minor code and completion status.
//
// Threading: one thread; omniORB's own threads are the ORB's business.

#include <omniORB4/CORBA.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Greeter.hh"
#include "QV_daemon.hh"

namespace {

using Strings = QV_daemon::stringList;

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, separator);) {
    out.push_back(item);
  }
  if (!text.empty() && text.back() == separator) out.emplace_back();
  return out;
}

// The arguments of one call, read by the operation's parameter types.
struct Args {
  QV_daemon_ptr daemon;
  std::vector<std::string> words;

  const char* s(std::size_t i) const {
    return i < words.size() ? words[i].c_str() : "";
  }
  CORBA::ULong ul(std::size_t i) const { return std::strtoul(s(i), 0, 10); }
  CORBA::Long l(std::size_t i) const { return std::strtol(s(i), 0, 10); }
  CORBA::Octet o(std::size_t i) const { return CORBA::Octet(ul(i)); }
  CORBA::Boolean b(std::size_t i) const {
    return std::string(s(i)) == "true" || std::string(s(i)) == "1";
  }
  Strings list(std::size_t i) const {
    Strings out;
    std::vector<std::string> items = words.size() > i && !words[i].empty()
                                         ? split(words[i], ',')
                                         : std::vector<std::string>();
    out.length(CORBA::ULong(items.size()));
    for (CORBA::ULong k = 0; k < out.length(); ++k) {
      out[k] = items[k].c_str();
    }
    return out;
  }
};

// The printed values of one reply.
struct Out {
  std::vector<std::string> values;

  Out& operator<<(const char* v) { return add(v); }
  Out& operator<<(const CORBA::String_var& v) { return add(v.in()); }
  Out& operator<<(CORBA::Boolean v) { return add(v ? "true" : "false"); }
  Out& operator<<(CORBA::ULong v) { return add(std::to_string(v)); }
  Out& operator<<(const Strings& v) {
    std::string text = "[";
    for (CORBA::ULong k = 0; k < v.length(); ++k) {
      text += (k ? "," : "") + std::string(v[k].in());
    }
    return add(text + "]");
  }
  Out& operator<<(const QV_daemon::serverDetailsList& v) {
    std::string text = "[";
    for (CORBA::ULong k = 0; k < v.length(); ++k) {
      const QV_daemon::serverDetails& d = v[k];
      text += std::string(k ? "," : "") + "{" + d.server.in() + "," +
              d.marker.in() + "," + d.principal.in() + "," + d.code.in() + "," +
              d.comms.in() + "," + d.port.in() + "," +
              std::to_string(d.OSspecific) + "," +
              std::to_string(int(d.status)) + "}";
    }
    return add(text + "]");
  }
  Out& add(const std::string& v) {
    values.push_back(v);
    return *this;
  }
};

using Call = std::function<void(const Args&, Out&)>;
using CORBA::String_var;

// One entry per operation of QV_daemon, in the IDL's order.
const std::map<std::string, Call>& operations() {
  using L = QV_daemon::stringList_var;
  static const std::map<std::string, Call> table = {
      {"getImplementationDetails",
       [](const Args& a, Out& o) {
         String_var code, comms, port, policy;
         a.daemon->getImplementationDetails(a.s(0), a.s(1), a.s(2), code, comms,
                                            port, policy);
         o << code << comms << port << policy;
       }},
      {"getIIOPDetails",
       [](const Args& a, Out& o) {
         String_var port, policy;
         a.daemon->getIIOPDetails(a.s(0), a.s(1), a.s(2), port, policy);
         o << port << policy;
       }},
      {"registerPersistentServer",
       [](const Args& a, Out& o) {
         String_var code, comms, port;
         a.daemon->registerPersistentServer(a.s(0), a.ul(1), code, comms, port);
         o << code << comms << port;
       }},
      {"lookUp",
       [](const Args& a, Out& o) {
         L hosts;
         CORBA::Boolean ok = a.daemon->lookUp(a.s(0), hosts, a.o(1), a.s(2));
         o << ok << hosts.in();
       }},
#define TALVO_LIST_EDIT(op)                                                  \
  {                                                                          \
#op, [](const Args& a, Out& o) { o << a.daemon->op(a.s(0), a.list(1)); } \
  }
      TALVO_LIST_EDIT(addHostsToServer),
      TALVO_LIST_EDIT(addHostsToGroup),
      TALVO_LIST_EDIT(addGroupsToServer),
      TALVO_LIST_EDIT(delHostsFromServer),
      TALVO_LIST_EDIT(delHostsFromGroup),
      TALVO_LIST_EDIT(delGroupsFromServer),
#define TALVO_LIST_READ(op)                  \
  {                                          \
#op, [](const Args& a, Out& o) {           \
     L list;                                  \
     CORBA::Boolean ok = a.daemon->op(a.s(0), list); \
     o << ok << list.in();                    \
   } \
  }
      TALVO_LIST_READ(listHostsInServer),
      TALVO_LIST_READ(listHostsInGroup),
      TALVO_LIST_READ(listGroupsInServer),
      {"listActiveServers",
       [](const Args& a, Out& o) {
         QV_daemon::serverDetailsList_var servers;
         a.daemon->listActiveServers(servers);
         o << servers.in();
       }},
      {"killServer",
       [](const Args& a, Out&) { a.daemon->killServer(a.s(0), a.s(1)); }},
      {"newSharedServer",
       [](const Args& a, Out&) {
         a.daemon->newSharedServer(a.s(0), a.list(1), a.list(2), a.ul(3));
       }},
      {"newSharedServer2",
       [](const Args& a, Out&) {
         a.daemon->newSharedServer2(a.s(0), a.list(1), a.list(2), a.ul(3),
                                    a.ul(4), a.l(5));
       }},
      {"newUnSharedServer",
       [](const Args& a, Out&) {
         a.daemon->newUnSharedServer(a.s(0), a.list(1), a.list(2), a.ul(3));
       }},
      {"newPerMethodServer",
       [](const Args& a, Out&) {
         a.daemon->newPerMethodServer(a.s(0), a.list(1), a.list(2));
       }},
      {"listServers",
       [](const Args& a, Out& o) {
         L servers;
         a.daemon->listServers(a.s(0), servers);
         o << servers.in();
       }},
      {"deleteServer",
       [](const Args& a, Out&) { a.daemon->deleteServer(a.s(0)); }},
      {"serverExists",
       [](const Args& a, Out& o) { o << a.daemon->serverExists(a.s(0)); }},
      {"getServer",
       [](const Args& a, Out& o) {
         String_var comms, code, policy, owner, invoke, launch;
         CORBA::ULong flags;
         L markers, methods, commands;
         a.daemon->getServer(a.s(0), comms, code, policy, flags, owner, invoke,
                             launch, markers, methods, commands);
         o << comms << code << policy << flags << owner << invoke << launch
           << markers.in() << methods.in() << commands.in();
       }},
      {"getServer2",
       [](const Args& a, Out& o) {
         String_var comms, code, policy, owner, invoke, launch;
         CORBA::ULong flags, nservers, port;
         L markers, methods, commands;
         a.daemon->getServer2(a.s(0), comms, code, policy, flags, owner, invoke,
                              launch, nservers, port, markers, methods,
                              commands);
         o << comms << code << policy << flags << owner << invoke << launch
           << nservers << port << markers.in() << methods.in() << commands.in();
       }},
#define TALVO_TRIPLE(op)                                                   \
  {                                                                        \
#op, [](const Args& a, Out&) { a.daemon->op(a.s(0), a.s(1), a.s(2)); } \
  }
#define TALVO_PAIR(op)                                             \
  {                                                                \
#op, [](const Args& a, Out&) { a.daemon->op(a.s(0), a.s(1)); } \
  }
      TALVO_TRIPLE(addMarker),
      TALVO_PAIR(removeMarker),
      TALVO_TRIPLE(addUnsharedMarker),
      TALVO_PAIR(removeUnsharedMarker),
      TALVO_TRIPLE(addSharedMarker),
      TALVO_PAIR(removeSharedMarker),
      TALVO_TRIPLE(addMethod),
      TALVO_PAIR(removeMethod),
      {"newDirectory",
       [](const Args& a, Out&) { a.daemon->newDirectory(a.s(0)); }},
      {"deleteDirectory",
       [](const Args& a, Out&) { a.daemon->deleteDirectory(a.s(0), a.b(1)); }},
      TALVO_PAIR(changeOwnerServer),
      TALVO_PAIR(changeOwnerDir),
      TALVO_PAIR(addInvokeRights),
      TALVO_PAIR(removeInvokeRights),
      TALVO_PAIR(addLaunchRights),
      TALVO_PAIR(removeLaunchRights),
      TALVO_PAIR(addInvokeRightsDir),
      TALVO_PAIR(removeInvokeRightsDir),
      TALVO_PAIR(addLaunchRightsDir),
      TALVO_PAIR(removeLaunchRightsDir),
      TALVO_PAIR(addDirRights),
      TALVO_PAIR(removeDirRights),
      {"registerServerAsLegacy",
       [](const Args& a, Out&) { a.daemon->registerServerAsLegacy(a.b(0)); }},
  };
  return table;
}

// "!NAME MINOR COMPLETED_x" for a system exception.
std::string printed(const CORBA::SystemException& e) {
  static const char* const kCompleted[] = {"COMPLETED_YES", "COMPLETED_NO",
                                           "COMPLETED_MAYBE"};
  return std::string("!") + e._name() + " " + std::to_string(e.minor()) + " " +
         kCompleted[e.completed() % 3];
}

// Runs one call; false when the operation is unknown.
bool call(QV_daemon_ptr daemon, const std::vector<std::string>& words) {
  auto op = operations().find(words.empty() ? "" : words[0]);
  if (op == operations().end()) {
    std::cerr << "unknown operation: " << (words.empty() ? "" : words[0])
              << "\n";
    return false;
  }
  Args args{daemon, {words.begin() + 1, words.end()}};
  Out out;
  std::string line;
  try {
    op->second(args, out);
    for (std::size_t i = 0; i < out.values.size(); ++i) {
      line += (i ? "|" : "") + out.values[i];
    }
  } catch (const CORBA::SystemException& e) {
    line = printed(e);
  } catch (const CORBA::Exception& e) {
    line = std::string("!") + e._name();
  }
  std::cout << words[0] << ": " << line << std::endl;
  return true;
}

std::string referenceText(const std::string& arg) {
  if (arg.rfind("IOR:", 0) == 0 || arg.rfind("corbaloc:", 0) == 0) return arg;
  std::ifstream in(arg);
  std::string text;
  std::getline(in, text);
  return text;
}

int run(CORBA::ORB_ptr orb, const std::vector<std::string>& args) {
  CORBA::Object_var object =
      orb->string_to_object(referenceText(args[0]).c_str());
  if (args[1] == "--greet") {
    Greeter_var greeter = Greeter::_unchecked_narrow(object);
    CORBA::String_var answer =
        greeter->greet(args.size() > 2 ? args[2].c_str() : "");
    std::cout << answer.in() << std::endl;
    return 0;
  }
  QV_daemon_var daemon = QV_daemon::_unchecked_narrow(object);
  if (args[1] != "--script") {
    return call(daemon, {args.begin() + 1, args.end()}) ? 0 : 2;
  }
  std::ifstream script(args.size() > 2 ? args[2] : "");
  if (!script) {
    std::cerr << "cannot read the script\n";
    return 2;
  }
  for (std::string line; std::getline(script, line);) {
    if (!line.empty() && !call(daemon, split(line, '|'))) return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CORBA::ORB_var orb = CORBA::ORB_init(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) {
    std::cerr << "usage: talvo_omni_call REFERENCE OPERATION [ARGUMENT...]\n"
                 "       talvo_omni_call REFERENCE --script FILE\n"
                 "       talvo_omni_call REFERENCE --greet NAME\n";
    return 2;
  }
  int status = 1;
  try {
    status = run(orb, args);
  } catch (const CORBA::SystemException& e) {
    std::cout << printed(e) << std::endl;
  } catch (const CORBA::Exception& e) {
    std::cout << "!" << e._name() << std::endl;
  }
  orb->destroy();
  return status;
}
