// The virtual radio's rendezvous directory as an unlucky user meets it: the
// directory replaced while a program runs, junk among its entries, and the
// lock files that released channels leave.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/VirtualRadioLinks.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {
namespace {

namespace vradio = platform::vradio;

constexpr std::uint64_t kStranger = 0x0000000000000077ull;
constexpr const char* kStrangerHex = "000000000077";
constexpr const char* kServerHex = "a1b2c3d4e5f6";
constexpr const char* kClassHex = "0000110100001000800000805f9b34fb";

int UnixSocket() {
  return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

std::vector<std::string> Entries(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name).rfind(prefix, 0) == 0) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// Another user's radio with a listening channel 1, as that user would set it
// up in a directory of theirs.
struct StrangerRadio {
  explicit StrangerRadio(const std::string& dir) {
    lock = open((dir + "/r-" + kStrangerHex).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    flock(lock, LOCK_EX);
    listener = UnixSocket();
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    std::string path = dir + "/s-" + kStrangerHex + "-1";
    std::memcpy(sun.sun_path, path.data(), path.size());
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sun), sizeof sun), 0);
    EXPECT_EQ(listen(listener, 4), 0);
  }
  ~StrangerRadio() {
    close(listener);
    close(lock);
  }
  bool Reached() const {
    pollfd p{listener, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }
  int lock;
  int listener;
};

void ExpectRefused(const std::string& dir) {
  try {
    vradio::RendezvousDirectory();
    ADD_FAILURE() << "the changed directory was used";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), EACCES);
    EXPECT_NE(std::string(e.what()).find(dir + " is not a private directory of this user"),
              std::string::npos)
        << e.what();
  }
}

// Once checked, the directory must stay the private one it was: opened to
// others in place, or removed and recreated open to all, it is refused, and
// nothing in it is listed or reached.
TEST(VirtualRadioDirectory, NoLongerPrivateDirectoryIsRefused) {
  VirtualRadios radios;
  const std::string dir = radios.Directory();
  ASSERT_EQ(vradio::KnownRadios().size(), 2u);

  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  ExpectRefused(dir);
  EXPECT_TRUE(vradio::KnownRadios().empty());
  ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
  EXPECT_EQ(vradio::KnownRadios().size(), 2u);

  // A temp cleaner removes it; someone else recreates it open to all.
  const std::string aside = dir + "-aside";
  ASSERT_EQ(rename(dir.c_str(), aside.c_str()), 0);
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  {
    StrangerRadio stranger(dir);
    ExpectRefused(dir);
    EXPECT_TRUE(vradio::KnownRadios().empty());
    EXPECT_FALSE(vradio::RadioName(kStranger).has_value());
    int fd = UnixSocket();
    EXPECT_NE(vradio::ConnectChannel(fd, kClientRadio, kStranger, 1), 0);
    EXPECT_FALSE(stranger.Reached());
    close(fd);
    EXPECT_THROW(vradio::Radio(0x99, "late"), std::system_error);
  }
  // Refused too when it is recreated private: it is not the directory the
  // radios live in.
  ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
  ExpectRefused(dir);
  VirtualRadios::RemoveDirectory(dir);
  ASSERT_EQ(rename(aside.c_str(), dir.c_str()), 0);
  EXPECT_EQ(vradio::KnownRadios().size(), 2u);
}

// Entries that are not what their names say are skipped, and none of them
// blocks a listing or makes it raise.
TEST(VirtualRadioDirectory, JunkEntriesAreSkipped) {
  VirtualRadios radios;
  const std::string dir = radios.Directory();
  vradio::ChannelClaim claim;
  int listener = UnixSocket();
  ASSERT_EQ(vradio::BindChannel(listener, kServerRadio, 0, claim), 0);
  const std::string held = std::to_string(claim.Channel());
  const std::string record = std::string("v-") + kServerHex + "-";

  ASSERT_EQ(mkfifo((dir + "/r-" + kStrangerHex).c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir + "/r-000000000088").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((dir + "/" + record + held + "-" + kClassHex).c_str(), 0600), 0);
  for (const char* channel : {"ab", "+1", " 1", "0", "99", "-1"}) {
    int fd =
        open((dir + "/" + record + channel + "-" + kClassHex).c_str(), O_CREAT | O_WRONLY, 0600);
    close(fd);
  }
  ASSERT_EQ(mkfifo((dir + "/" + record + held + "-0x00110100001000800000805f9b34fb").c_str(), 0600),
            0);

  auto listing = std::async(std::launch::async, [&] {
    auto known = vradio::KnownRadios();
    EXPECT_EQ(known.size(), 2u);
    EXPECT_FALSE(vradio::RadioName(kStranger).has_value());
    EXPECT_TRUE(vradio::Services(kServerRadio).empty());
    GUID serial{0x00001101, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
    EXPECT_FALSE(vradio::FindService(kServerRadio, serial).has_value());
  });
  if (listing.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "a listing blocked on a FIFO";
    // Keep giving the FIFOs a writer, so each blocked open can finish.
    while (listing.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
      for (const auto& name : Entries(dir, ""))
        close(open((dir + "/" + name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  }
  EXPECT_NO_THROW(listing.get());
  close(listener);
  rmdir((dir + "/r-000000000088").c_str());
}

// A released channel leaves no lock file behind, and a channel is never held
// twice while holders come and go.
TEST(VirtualRadioDirectory, ReleasedChannelsLeaveNoLockFilesThreaded) {
  VirtualRadios radios;
  const std::string dir = radios.Directory();
  {
    vradio::ChannelClaim first, second;
    int a = UnixSocket(), b = UnixSocket();
    ASSERT_EQ(vradio::BindChannel(a, kServerRadio, 0, first), 0);
    ASSERT_EQ(vradio::BindChannel(b, kServerRadio, 0, second), 0);
    EXPECT_EQ(Entries(dir, "k-").size(), 2u);
    close(a);
    close(b);
  }
  EXPECT_TRUE(Entries(dir, "k-").empty());

  std::atomic<int> holders{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> taken{0};
  auto churn = [&] {
    for (int i = 0; i < 1000; ++i) {
      vradio::ChannelClaim claim;
      int fd = UnixSocket();
      if (vradio::BindChannel(fd, kServerRadio, 5, claim) == 0) {
        ++taken;
        if (holders.fetch_add(1) != 0) ++overlaps;
        std::this_thread::yield();
        holders.fetch_sub(1);
      }
      close(fd);
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back(churn);
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_GT(taken.load(), 0);
  EXPECT_TRUE(Entries(dir, "k-").empty());
}

// A process killed while it holds a radio and a bound channel leaves its
// entries behind, but the system drops its locks: the radio and channel are
// free again at once and no one is sent to them.
TEST(VirtualRadioDirectory, EntriesOfAKilledProcessFallAway) {
  VirtualRadios radios;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    vradio::Radio radio(kStranger, "Doomed radio");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    vradio::ChannelClaim claim;
    const char ok = vradio::BindChannel(fd, kStranger, 5, claim) == 0 && listen(fd, 1) == 0;
    (void)!write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(vradio::RadioIsLive(kStranger));
  EXPECT_TRUE(vradio::ChannelEntry(kStranger, 5).has_value());
  EXPECT_THROW(vradio::Radio(kStranger, "Twin"), std::system_error);

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_FALSE(vradio::RadioIsLive(kStranger));
  EXPECT_FALSE(vradio::ChannelEntry(kStranger, 5).has_value());
  for (const auto& r : vradio::KnownRadios()) EXPECT_NE(r.address, kStranger);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  EXPECT_EQ(vradio::ConnectChannel(fd, kClientRadio, kStranger, 5), EHOSTUNREACH);
  close(fd);
  vradio::Radio again(kStranger, "Reborn radio");
  EXPECT_TRUE(vradio::RadioIsLive(kStranger));
}

}  // namespace
}  // namespace quorlink::testing
