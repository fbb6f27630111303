#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "OsTestSupport.h"
#include "design/DesignFixture.h"
#include "design/DesignSession.h"
#include "design/FormFile.h"
#include "quorlink/bluetooth/QuorBluetooth.h"
#include "quorlink/comport/QuorComPort.h"
#include "quorlink/core/FormStream.h"

namespace quorlink {
namespace {

using testing::DesignFixture;

class InspectorSession : public DesignFixture {
 protected:
  InspectorSession() : dir(testing::MakeTempDir("quorlink-design-")) {}
  ~InspectorSession() override { std::filesystem::remove_all(dir); }

  // Runs the lines; the output of the last one.
  std::string Run(std::initializer_list<std::string> lines, bool expectOk = true) {
    std::string last;
    for (const std::string& line : lines) {
      out.str("");
      err.str("");
      EXPECT_EQ(session.Execute(line), expectOk) << line << ": " << err.str();
      last = out.str();
    }
    return last;
  }

  std::string dir;
  std::ostringstream out, err;
  TDesignSession session{out, err};
};

TEST_F(InspectorSession, DesignedFormLoadsInAProgramWithTheSameValues) {
  const std::string file = dir + "/Main.qfm";
  EXPECT_EQ(Run({"palette"}), "Quorlink\n  TQuorComPort\n  TQuorBluetooth\n");
  Run({"new TQuorComPort", "set Port 3", "set BaudRate br9600", "set Parity paEven",
       "new tquorbluetooth Radio", "set Address (A1:B2:C3:D4:E5:F6)",
       "set Service " + std::string(QuorServiceGUIDsName[3].Name),
       "set ServiceName \"  Spaced name \"", "set Port 5"});

  // The designer's refusals: the message, nothing changed.
  Run({"set Address nonsense", "set Version 2.0", "edit Port", "values ServiceName",
       "new TQuorCustomTransport", "set Parity paPurple"},
      false);
  Run({"set Address nonsense"}, false);
  EXPECT_EQ(err.str(), "error: Invalid argument.\n");
  Run({"set Version 2.0"}, false);
  EXPECT_EQ(err.str(), "error: Version is read-only\n");
  EXPECT_EQ(Run({"show Address Version"}),
            "Address = (A1:B2:C3:D4:E5:F6)               (ellipsis)\n"
            "Version = 1.1                               (read-only)\n");

  // Both selected: the shared properties, the constants shown though they
  // differ, Service (no paMultiSelect) left out.
  const std::string shown = Run({"select QuorComPort1 Radio", "show"});
  EXPECT_NE(shown.find("About = Quorlink Library"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Category = tcCOMPort"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Port = \n"), std::string::npos) << shown;  // 3 and 5
  EXPECT_EQ(shown.find("Service "), std::string::npos) << shown;
  EXPECT_EQ(shown.find("BaudRate"), std::string::npos) << shown;

  Run({"write " + file});
  // A program that loads the form: its own form, the classes it uses.
  RegisterClass<TQuorComPort>("TQuorComPort");
  RegisterClass<TQuorBluetooth>("TQuorBluetooth");
  TForm form(nullptr);
  ReadForm(form, LoadFormFile(file));
  EXPECT_EQ(form.Name(), "Form1");
  auto* port = dynamic_cast<TQuorComPort*>(form.FindComponent("QuorComPort1"));
  auto* bt = dynamic_cast<TQuorBluetooth*>(form.FindComponent("Radio"));
  ASSERT_NE(port, nullptr);
  ASSERT_NE(bt, nullptr);
  EXPECT_EQ(port->GetPort(), 3);
  EXPECT_EQ(port->GetBaudRate(), br9600);
  EXPECT_EQ(port->GetParity(), paEven);
  EXPECT_EQ(bt->GetAddress(), "(A1:B2:C3:D4:E5:F6)");
  EXPECT_EQ(bt->GetService(), QuorServiceGUIDsName[3].Name);
  EXPECT_EQ(bt->GetServiceName(), "  Spaced name ");
  EXPECT_EQ(bt->GetPort(), 5u);

  // And the designer opens it again.
  EXPECT_EQ(Run({"delete Radio", "read " + file}),
            "read " + file + ": Form1 with 2 component(s)\n");
  EXPECT_EQ(Run({"select Radio", "show ServiceName"}), "ServiceName =   Spaced name \n");
}

TEST_F(InspectorSession, AFailedWriteOrReadLeavesFilesAndFormAsTheyWere) {
  const std::string file = dir + "/Main.qfm";
  Run({"new TQuorComPort", "write " + file, "set Port 9"});
  const std::string before = LoadFormFile(file);
  // The target is a directory: the rename fails and the temporary goes.
  std::filesystem::create_directory(dir + "/Busy.qfm");
  Run({"write " + dir + "/Busy.qfm", "write " + dir + "/missing/Main.qfm"}, false);
  EXPECT_EQ(LoadFormFile(file), before);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 2);

  // A bad form changes nothing in the designer.
  SaveFormFile(dir + "/Bad.qfm", "object Form1: TForm\n  object X: TNoSuchClass\n  end\nend\n");
  Run({"read " + dir + "/Bad.qfm"}, false);
  EXPECT_NE(err.str().find("TNoSuchClass"), std::string::npos) << err.str();
  EXPECT_EQ(Run({"select QuorComPort1", "show Port"}), "Port = 9\n");
}

TEST_F(InspectorSession, CompletesCommandsClassesPropertiesAndValues) {
  using V = std::vector<std::string>;
  EXPECT_EQ(session.Complete("se"), (V{"select", "set"}));
  EXPECT_EQ(session.Complete("new TQuorB"), V{"TQuorBluetooth"});
  Run({"new TQuorBluetooth"});
  EXPECT_EQ(session.Complete("set ServiceN"), V{"ServiceName"});
  EXPECT_EQ(session.Complete("select "), (V{"Form1", "QuorBluetooth1"}));
  const V services = session.Complete("set Service ");
  ASSERT_EQ(services.size(), 52u);
  EXPECT_TRUE(std::is_sorted(services.begin(), services.end(), [](auto& a, auto& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) <
             std::tolower(static_cast<unsigned char>(y));
    });
  }));
  EXPECT_EQ(Run({"values Service"}).size(), [&] {
    std::size_t n = 0;
    for (const auto& s : services) n += s.size() + 1;
    return n;
  }());
}

// What the form cannot hold is refused (a component named like the form, from
// a file or typed), a value outside a list is named with the list, a text a
// list does not hold is not stored silently, constants cannot be typed, and
// a list reads in a person's order.
TEST_F(InspectorSession, RefusesOrWarnsWhatTheFormCannotHold) {
  SaveFormFile(dir + "/Twin.qfm",
               "object Form1: TForm\n  object form1: TQuorComPort\n  end\nend\n");
  Run({"read " + dir + "/Twin.qfm"}, false);
  EXPECT_NE(err.str().find("named like its form"), std::string::npos) << err.str();
  EXPECT_EQ(session.Form().ComponentCount(), 0);
  Run({"new TQuorComPort"});
  Run({"set Name FORM1"}, false);
  Run({"select Form1"});
  Run({"set Name quorcomport1"}, false);
  EXPECT_EQ(Run({"components"}), "* Form1: TForm\n  QuorComPort1: TQuorComPort\n");

  Run({"select QuorComPort1"});
  const std::string rates = Run({"values BaudRate"});
  EXPECT_EQ(rates.rfind("br110\nbr300\nbr600\nbr1200\n", 0), 0u) << rates;
  EXPECT_LT(rates.find("br57600\n"), rates.find("br115200\n")) << rates;
  Run({"set BaudRate br9601"}, false);
  EXPECT_NE(err.str().find("br9601 (one of br110, br300"), std::string::npos) << err.str();
  EXPECT_NE(Run({"show Flags"}).find("(read-only)"), std::string::npos);
  Run({"set Flags [tfServer]"}, false);

  Run({"new TQuorBluetooth", "set Service SerialPortServiceClass"});
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(Run({"set Service Nonsense"}),
            "Service =                                   (drop-down, sorted)\n");
  EXPECT_NE(err.str().find("warning: Nonsense is not a value of Service"), std::string::npos)
      << err.str();
}

}  // namespace
}  // namespace quorlink
