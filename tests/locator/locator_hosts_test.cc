// lookUp passed between real daemons, each on a host of its own: every
// talvod runs in a network and UTS namespace of this test (host names
// alpha, beta, gamma; addresses on a bridge that exists only in the test's
// namespaces; names from a hosts file of the test's), all on one daemon
// port. The clients are talvoctl run inside the asking daemon's namespace.
// Needs root; skipped otherwise. Every namespace and process goes with the
// fixture, also when a check fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace talvo::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kIp[] = "/usr/sbin/ip";
constexpr char kPort[] = "7591";
const std::vector<std::string> kHosts = {"alpha", "beta", "gamma"};

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Hosts on one bridge, each in namespaces of its own, each with a talvod
// whose locator folder is dir/<host>.
class Hosts {
 public:
  explicit Hosts(std::size_t count) {
    const std::string tag = "talvo" + std::to_string(::getpid());
    sw_ = tag + "sw";
    std::string hosts = "127.0.0.1 localhost\n";
    for (std::size_t i = 0; i < count; ++i) {
      hosts += "10.213.0." + std::to_string(i + 1) + " " + kHosts[i] + "\n";
    }
    dir_.write("hosts", hosts);
    ok_ = run(std::string(kIp) + " netns add " + sw_);
    if (ok_) made_.push_back(sw_);
    ok_ = ok_ &&
          run(std::string(kIp) + " -n " + sw_ + " link add br0 type bridge") &&
          run(std::string(kIp) + " -n " + sw_ + " link set br0 up");
    for (std::size_t i = 0; ok_ && i < count; ++i) {
      const std::string ns = tag + kHosts[i];
      const std::string ip = std::string(kIp);
      const std::string port = "v" + std::to_string(i);
      ok_ = run(ip + " netns add " + ns);
      if (ok_) made_.push_back(ns);
      ok_ = ok_ &&
            run(ip + " link add eth0 netns " + ns + " type veth peer name " +
                port + " netns " + sw_) &&
            run(ip + " -n " + sw_ + " link set " + port + " master br0 up") &&
            run(ip + " -n " + ns + " addr add 10.213.0." +
                std::to_string(i + 1) + "/24 dev eth0") &&
            run(ip + " -n " + ns + " link set eth0 up") &&
            run(ip + " -n " + ns + " link set lo up");
      namespaces_[kHosts[i]] = ns;
      std::filesystem::create_directories(dir_.file(kHosts[i] + "/imprep"));
      writeFile(dir_.file(kHosts[i] + "/registry"),
                "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]\n"
                "LocatorWait=1500\n");
    }
  }

  ~Hosts() {
    daemons_.clear();  // SIGKILL and reap
    for (const std::string& ns : made_) {
      run("for p in $(" + std::string(kIp) + " netns pids " + ns +
          "); do kill -9 $p; done");
      run(std::string(kIp) + " netns del " + ns);
    }
  }

  bool ok() const { return ok_; }
  std::string file(const std::string& host, const std::string& name) const {
    return dir_.file(host + "/" + name);
  }

  // Runs `program` `args` on `host`: its namespaces, its host name, the
  // test's hosts file, the daemon's settings and folders.
  std::unique_ptr<ChildProcess> start(const std::string& host,
                                      const std::string& program,
                                      std::vector<std::string> args,
                                      const std::string& output) {
    ChildOptions o;
    o.args = {"netns",
              "exec",
              namespaces_.at(host),
              "unshare",
              "--uts",
              "--mount",
              "sh",
              "-c",
              "mount --bind \"$0\" /etc/hosts && hostname " + host +
                  " && exec \"$@\"",
              dir_.file("hosts"),
              program};
    o.args.insert(o.args.end(), args.begin(), args.end());
    o.env = {{"NOTIFY_SOCKET", ""},
             {"QV_REGISTRY", file(host, "registry")},
             {"QV_IMP_REP_PATH", file(host, "imprep")},
             {"QV_LOCATOR_PATH", dir_.file(host)},
             {"QV_DAEMON_PORT", kPort},
             {"QV_CONNECT_ATTEMPTS", ""},
             {"QV_LOCAL_DOMAIN", ""}};
    std::filesystem::create_directories(dir_.file(host + "/" + output));
    o.output_dir = dir_.file(host + "/" + output);
    return std::make_unique<ChildProcess>(kIp, o);
  }

  // talvod on `host`, listening.
  ChildProcess& daemon(const std::string& host) {
    auto& d = daemons_[host];
    d = start(host, builtProgram("src/daemon/talvod"), {"-f"}, "daemon");
    eventually([&] {
      return talvoctl(host, {"list-hosts", "QV_none"}).errors.find("LOCATOR") !=
             std::string::npos;
    });
    return *d;
  }
  ChildProcess& daemonOf(const std::string& host) { return *daemons_.at(host); }

  struct Result {
    int exit = -1;
    std::string output, errors;
  };
  Result talvoctl(const std::string& host, std::vector<std::string> args) {
    args.insert(args.begin(), {"--host", "127.0.0.1", "--port", kPort});
    auto c = start(host, builtProgram("tools/talvoctl/talvoctl"), args,
                   "client" + std::to_string(clients_++));
    Result r;
    r.exit = c->exitCode(20s);
    r.output = c->output();
    r.errors = c->errors();
    return r;
  }

  // How many lines of `host`'s daemon output hold `text`.
  std::size_t traced(const std::string& host, const std::string& text) {
    const std::string out = daemonOf(host).output();
    std::size_t n = 0;
    for (std::size_t p = out.find(text); p != std::string::npos;
         p = out.find(text, p + 1)) {
      ++n;
    }
    return n;
  }

 private:
  TempDir dir_;
  bool ok_ = false;
  std::string sw_;
  std::vector<std::string> made_;
  std::map<std::string, std::string> namespaces_;
  std::map<std::string, std::unique_ptr<ChildProcess>> daemons_;
  int clients_ = 0;
};

class LocatorHostsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || ::access(kIp, X_OK) != 0) {
      GTEST_SKIP() << "needs root and ip(8) (network namespaces)";
    }
  }
};

TEST_F(LocatorHostsTest, AnswersFromAPeerWithTagsAndHopsCountingDown) {
  Hosts net(2);
  if (!net.ok()) GTEST_SKIP() << "network namespaces cannot be made here";
  writeFile(net.file("alpha", "Talvo.hst"), "QV_daemon:beta:\n");
  writeFile(net.file("beta", "Talvo.hst"), "bank:b1,b2:\nQV_daemon:alpha:\n");
  net.daemon("alpha");
  net.daemon("beta");

  auto r = net.talvoctl("alpha", {"lookup", "bank", "--hops", "2"});
  EXPECT_EQ(r.exit, 0) << r.errors;
  EXPECT_TRUE(r.output == "b1\nb2\n" || r.output == "b2\nb1\n") << r.output;
  EXPECT_EQ(
      net.traced("beta", "lookup demand...bank from :alpha with 1 hops ]"), 1u);
  r = net.talvoctl("alpha", {"lookup", "bank", "--hops", "1"});
  EXPECT_EQ(r.exit, 0) << r.errors;
  EXPECT_EQ(
      net.traced("beta", "lookup demand...bank from 1:alpha with 0 hops ]"),
      1u);

  // Hops 0 stops here; a question is never passed back to a daemon in its
  // tag.
  r = net.talvoctl("alpha", {"lookup", "bank"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.errors.find("answered false"), std::string::npos) << r.errors;
  r = net.talvoctl("alpha", {"lookup", "none", "--hops", "5"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(
      net.traced("beta", "lookup demand...none from 2:alpha with 4 hops ]"),
      1u);
  EXPECT_EQ(net.traced("alpha", "lookup demand...none"), 1u);
}

TEST_F(LocatorHostsTest, ARingOfThreeEnds) {
  Hosts net(3);
  if (!net.ok()) GTEST_SKIP() << "network namespaces cannot be made here";
  writeFile(net.file("alpha", "Talvo.hst"), "QV_daemon:beta:\n");
  writeFile(net.file("beta", "Talvo.hst"), "QV_daemon:gamma:\n");
  writeFile(net.file("gamma", "Talvo.hst"), "QV_daemon:alpha:\nshop:g1:\n");
  for (const char* h : {"alpha", "beta", "gamma"}) net.daemon(h);

  auto r = net.talvoctl("alpha", {"lookup", "none", "--hops", "10"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(net.traced("gamma",
                       "lookup demand...none from :alpha:beta with 8 hops ]"),
            1u);
  EXPECT_EQ(net.traced("alpha", "lookup demand...none"), 1u);

  EXPECT_EQ(net.talvoctl("alpha", {"lookup", "shop", "--hops", "1"}).exit, 1);
  EXPECT_EQ(net.traced("gamma", "lookup demand...shop"), 0u);
  r = net.talvoctl("alpha", {"lookup", "shop", "--hops", "2"});
  EXPECT_EQ(r.exit, 0) << r.errors;
  EXPECT_EQ(r.output, "g1\n");
}

TEST_F(LocatorHostsTest, APeerThatIsDownOrSilentCostsOneQuestionABoundedTime) {
  Hosts net(2);
  if (!net.ok()) GTEST_SKIP() << "network namespaces cannot be made here";
  writeFile(net.file("alpha", "Talvo.hst"), "QV_daemon:beta:\nbank:a1:\n");
  writeFile(net.file("beta", "Talvo.hst"), "\n");
  net.daemon("alpha");
  ChildProcess& beta = net.daemon("beta");

  // A silent peer: the question waits for it while alpha serves others.
  beta.signal(SIGSTOP);
  const auto start = std::chrono::steady_clock::now();
  auto asking = net.start(
      "alpha", builtProgram("tools/talvoctl/talvoctl"),
      {"--host", "127.0.0.1", "--port", kPort, "lookup", "shop", "--hops", "1"},
      "asking");
  ASSERT_TRUE(eventually(
      [&] { return net.traced("alpha", "lookup demand...shop") == 1; }));
  auto r = net.talvoctl("alpha", {"list-hosts", "bank"});
  EXPECT_EQ(r.exit, 0) << r.errors;
  EXPECT_EQ(r.output, "a1\n");
  EXPECT_EQ(asking->exitCode(10s), 1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 1400ms);
  EXPECT_LT(took, 8s);
  EXPECT_NE(asking->errors().find("the next daemon did not answer "
                                  "(CORBA::COMM_FAILURE)"),
            std::string::npos)
      << asking->errors();

  // A peer that is down: refused at once.
  beta.stop(SIGKILL);
  r = net.talvoctl("alpha", {"lookup", "shop", "--hops", "1"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.errors.find("COMM_FAILURE"), std::string::npos) << r.errors;
}

}  // namespace
}  // namespace talvo::testing
