// The quorlink program's inspector, run as a user runs it: a script on
// standard input, arguments, a palette image written out.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "design/FormFile.h"
#include "quorlink/design/PaletteBitmaps.h"

namespace quorlink {
namespace {

class InspectCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program is built beside the tests' folder.
    program =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "quorlink";
    if (!std::filesystem::exists(program)) GTEST_SKIP() << "no " << program;
    char pattern[] = "/tmp/quorlink-inspect-XXXXXX";
    dir = mkdtemp(pattern);
  }
  void TearDown() override {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  // Exit status; standard output in out.
  int Run(const std::string& args, const std::string& input, const std::string& env = "") {
    const std::string script = dir + "/input";
    SaveFormFile(script, input);
    const std::string command =
        env + program.string() + " inspect " + args + " < " + script + " 2>&1";
    out.clear();
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path program;
  std::string dir, out;
};

TEST_F(InspectCommand, ScriptOnStandardInputWritesTheFormAndStopsAtAFailure) {
  const std::string form = dir + "/Main.qfm";
  EXPECT_EQ(Run("", "# a comment\nnew TQuorComPort\nset Port 7\nwrite " + form + "\n"), 0) << out;
  EXPECT_NE(LoadFormFile(form).find("Port = 7"), std::string::npos);

  EXPECT_EQ(Run("-", "new TQuorBluetooth\nset Address x\nwrite " + form + "\n"), 1) << out;
  EXPECT_NE(out.find("error: Invalid argument."), std::string::npos) << out;
  EXPECT_NE(out.find("stopped at standard input:2"), std::string::npos) << out;
  EXPECT_NE(LoadFormFile(form).find("Port = 7"), std::string::npos);  // not written

  EXPECT_EQ(Run("-e palette -e \"new TQuorComPort\" -e \"show Version\"", ""), 0) << out;
  EXPECT_NE(out.find("Quorlink\n  TQuorComPort\n  TQuorBluetooth\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Version = 1.1"), std::string::npos) << out;
}

TEST_F(InspectCommand, WritesAPaletteBitmapAsAFile) {
  const std::string file = dir + "/bt.bmp";
  EXPECT_EQ(Run("--bitmap TQUORBLUETOOTH " + file, ""), 0) << out;
  const std::string bytes = LoadFormFile(file);
  const auto* expected = FindPaletteBitmap("TQUORBLUETOOTH");
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(bytes, std::string(expected->begin(), expected->end()));
  EXPECT_EQ(Run("--bitmap TQUORMODEM " + file, ""), 1) << out;
}

// Only the Address editor's picker needs Bluetooth: the About box opens where
// no virtual radio can be made.
TEST_F(InspectCommand, OnlyTheAddressEditorSetsUpBluetooth) {
  const std::string env = "env XDG_RUNTIME_DIR=" + dir + "/missing ";
  EXPECT_EQ(Run("-e \"new TQuorBluetooth\" -e \"edit About\"", "", env), 0) << out;
  EXPECT_EQ(out.find("virtual radio"), std::string::npos) << out;
}

}  // namespace
}  // namespace quorlink
