// A server in a child process and a client here: the virtual radio's
// rendezvous works across processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/bluetooth/QuorBluetoothConnection.h"
#include "platform/virtual/VirtualRadio.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {
namespace {

namespace vradio = platform::vradio;

constexpr const char* kChildDir = "QUORLINK_BT_CHILD_DIR";
constexpr const char* kChildFd = "QUORLINK_BT_CHILD_FD";

// The child's part: an echo server that ends after its first link ends.
TEST(BluetoothTransportProcess, ChildServer) {
  const char* dir = std::getenv(kChildDir);
  const char* fd = std::getenv(kChildFd);
  if (dir == nullptr || fd == nullptr) GTEST_SKIP() << "run by ServerInAChildProcess";
  vradio::SetRendezvousDirectory(dir);
  vradio::Enable(true);
  vradio::Radio radio(kServerRadio, "Child server radio");
  auto* server = new TQuorBluetooth(nullptr);
  server->SetService("SerialPortServiceClass");
  int links = 0;
  server->OnConnect = [&](TQuorCustomConnection*) { ++links; };
  server->OnRead = [](TQuorCustomConnection* c, const TQuorByteArray& buf) { c->Write(buf); };
  server->Listen();
  const int ready = std::atoi(fd);
  ASSERT_EQ(write(ready, "ready\n", 6), 6);
  close(ready);
  EXPECT_TRUE(PumpUntil([&] { return links == 1 && server->ConnectionCount() == 0; },
                        std::chrono::seconds(20)));
  Free(server);
}

TEST(BluetoothTransportProcess, ServerInAChildProcess) {
  char pattern[] = "/tmp/quorlink-bt-proc-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  vradio::SetRendezvousDirectory(dir);
  vradio::Enable(true);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    setenv(kChildDir, dir.c_str(), 1);
    setenv(kChildFd, std::to_string(pipeFds[1]).c_str(), 1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, STDOUT_FILENO);
    execl(self, self, "--gtest_filter=BluetoothTransportProcess.ChildServer", nullptr);
    _exit(127);
  }
  close(pipeFds[1]);
  pollfd p{pipeFds[0], POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 20000), 1) << "the child did not come up";
  char line[16] = {};
  ASSERT_GT(read(pipeFds[0], line, sizeof line), 0);
  close(pipeFds[0]);

  {
    vradio::Radio radio(kClientRadio, "Parent client radio");
    auto* client = new TQuorBluetooth(nullptr);
    client->SetAddress(kServerText);
    client->SetService("SerialPortServiceClass");
    std::string echoed;
    client->OnRead = [&](TQuorCustomConnection*, const TQuorByteArray& buf) {
      echoed.append(buf.begin(), buf.end());
    };
    client->Connect();
    ASSERT_TRUE(PumpUntil([&] { return client->ConnectionCount() == 1; }));
    auto* link = client->GetConnections(0);
    const std::string hello = "hello across processes";
    link->Write(TQuorByteArray(hello.begin(), hello.end()));
    ASSERT_TRUE(PumpUntil([&] { return echoed.size() >= hello.size(); }));
    EXPECT_EQ(echoed, hello);
    EXPECT_EQ(link->GetRemoteAddress().substr(0, 19), kServerText);
    EXPECT_EQ(link->GetRemoteName(), "Child server radio");
    EXPECT_EQ(link->GetLocalName(), "Parent client radio");
    client->Close();
    Free(client);
  }

  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 2000 && (done = waitpid(child, &status, WNOHANG)) == 0; ++i) usleep(10000);
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ADD_FAILURE() << "the child did not end";
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  vradio::Enable(false);
  VirtualRadios::RemoveDirectory(dir);
  vradio::SetRendezvousDirectory("");
}

}  // namespace
}  // namespace quorlink::testing
