#include "tools/DemoCable.h"

#include "tests/support/PtyPair.h"

namespace quorlink::tools {

namespace {

constexpr unsigned kDemoPort = 7;

class PtyCable final : public DemoCable {
 public:
  PtyCable() : binding_(kDemoPort, pair_.SlavePath()) {}
  unsigned PortNumber() const override { return kDemoPort; }
  std::string Describe() const override {
    return "A pty pair plays the cable: COM" + std::to_string(kDemoPort) + " is " +
           pair_.SlavePath() + ", the demo drives the other end.";
  }
  bool Write(const std::string& bytes) override { return pair_.Write(bytes); }
  std::vector<std::uint8_t> Read(std::size_t size, int timeoutMs) override {
    return pair_.Read(size, timeoutMs);
  }

 private:
  testing::PtyPair pair_;
  testing::ScopedComBinding binding_;
};

}  // namespace

std::unique_ptr<DemoCable> OpenDemoCable(std::string&) {
  return std::make_unique<PtyCable>();
}

}  // namespace quorlink::tools
