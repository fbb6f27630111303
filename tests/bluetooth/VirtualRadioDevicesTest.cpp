// The virtual radio's radios and devices as the Bluetooth API lists them,
// and the default picker's dialogue: one piece of code on every OS.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "OsTestSupport.h"
#include "platform/BluetoothApi.h"
#include "platform/BluetoothRecords.h"
#include "platform/Kernel.h"
#include "platform/virtual/VirtualRadio.h"
#include "support/VirtualRadios.h"

namespace quorlink::testing {
namespace {

namespace vradio = platform::vradio;

std::u16string Text(const WCHAR* name) {
  std::u16string text;
  while (*name != 0) text.push_back(static_cast<char16_t>(*name++));
  return text;
}

struct Device {
  BTH_ADDR address;
  bool connected;
  std::u16string name;
};

// Every device a search with the flags finds, the search closed.
std::vector<Device> Search(HANDLE radio, bool connected, bool remembered) {
  auto& api = platform::BluetoothApi();
  BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
  params.dwSize = sizeof params;
  params.fReturnConnected = connected ? TRUE : FALSE;
  params.fReturnRemembered = remembered ? TRUE : FALSE;
  params.hRadio = radio;
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;
  std::vector<Device> found;
  HBLUETOOTH_DEVICE_FIND find = api.BluetoothFindFirstDevice(&params, &info);
  if (find == nullptr) {
    EXPECT_EQ(platform::Kernel().GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return found;
  }
  do {
    found.push_back({info.Address.ullLong, info.fConnected != FALSE, Text(info.szName)});
  } while (api.BluetoothFindNextDevice(find, &info));
  EXPECT_EQ(platform::Kernel().GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(api.BluetoothFindDeviceClose(find));
  return found;
}

// The process's radios as handles, in the order the API gives them.
std::vector<HANDLE> Radios() {
  auto& api = platform::BluetoothApi();
  BLUETOOTH_FIND_RADIO_PARAMS params{};
  params.dwSize = sizeof params;
  std::vector<HANDLE> radios(1);
  HBLUETOOTH_RADIO_FIND find = api.BluetoothFindFirstRadio(&params, &radios[0]);
  if (find == nullptr) return {};
  HANDLE next = nullptr;
  while (api.BluetoothFindNextRadio(find, &next)) radios.push_back(next);
  EXPECT_TRUE(api.BluetoothFindRadioClose(find));
  return radios;
}

BLUETOOTH_RADIO_INFO Info(HANDLE radio) {
  BLUETOOTH_RADIO_INFO info{};
  info.dwSize = sizeof info;
  EXPECT_EQ(platform::BluetoothApi().BluetoothGetRadioInfo(radio, &info), ERROR_SUCCESS);
  return info;
}

class VirtualRadioDevices : public ::testing::Test {
 protected:
  ~VirtualRadioDevices() override {
    for (HANDLE h : radios) platform::Kernel().CloseHandle(h);
  }
  VirtualRadios virtualRadios;
  std::vector<HANDLE> radios = Radios();
};

TEST_F(VirtualRadioDevices, RadiosAreThisProcesssOwnOldestFirst) {
  ASSERT_EQ(radios.size(), 2u);
  const BLUETOOTH_RADIO_INFO server = Info(radios[0]);
  EXPECT_EQ(server.address.ullLong, kServerRadio);
  EXPECT_EQ(Text(server.szName), u"Server radio");
  EXPECT_EQ(server.manufacturer, 0xFFFF);
  EXPECT_EQ(Info(radios[1]).address.ullLong, kClientRadio);
}

TEST_F(VirtualRadioDevices, SearchesListLinkedPeersFirstAndEachDeviceOnce) {
  ASSERT_EQ(radios.size(), 2u);
  HANDLE server = radios[0];
  EXPECT_TRUE(Search(server, true, false).empty());
  auto remembered = Search(server, false, true);
  ASSERT_EQ(remembered.size(), 1u);  // never the radio itself
  EXPECT_EQ(remembered[0].address, kClientRadio);
  EXPECT_FALSE(remembered[0].connected);
  EXPECT_EQ(remembered[0].name, u"Client radio");

  vradio::LinkRecord link(kServerRadio, kClientRadio);
  auto both = Search(server, true, true);
  ASSERT_EQ(both.size(), 1u);
  EXPECT_TRUE(both[0].connected);
  // Every local radio: the server's peer, then the client radio's view.
  auto all = Search(nullptr, true, true);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].address, kClientRadio);
  EXPECT_TRUE(all[0].connected);
  EXPECT_EQ(all[1].address, kServerRadio);
  EXPECT_FALSE(all[1].connected);
}

TEST_F(VirtualRadioDevices, NamesArriveAsUtf16CutWholeToTheField) {
  struct Case {
    std::string name;
    std::u16string expected;
  };
  const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E, two UTF-16 units
  const std::vector<Case> cases = {
      {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC" + clef, u"Gr\u00FC\u00DF \u20AC\U0001D11E"},
      // The field holds 247 units and the zero.
      {std::string(300, 'a'), std::u16string(BLUETOOTH_MAX_NAME_SIZE - 1, u'a')},
      {std::string(247, 'b'), std::u16string(247, u'b')},
      // A pair that does not fit whole is left out, never half of it.
      {std::string(246, 'c') + clef, std::u16string(246, u'c')},
  };
  std::uint64_t address = 0x0000C0DE0000ull;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.size());
    vradio::Radio radio(++address, c.name);
    std::vector<HANDLE> all = Radios();
    ASSERT_EQ(all.size(), 3u);
    const BLUETOOTH_RADIO_INFO info = Info(all[2]);
    EXPECT_EQ(Text(info.szName), c.expected);
    for (HANDLE h : all) platform::Kernel().CloseHandle(h);
  }
}

TEST_F(VirtualRadioDevices, OnlyTheListTheLibraryHandedOverIsFreedAndEvenAfterTurningOff) {
  auto previous = platform::SetDevicePicker([](const auto&) { return 0; });
  auto& api = platform::BluetoothApi();
  BLUETOOTH_SELECT_DEVICE_PARAMS select{};
  select.dwSize = sizeof select;
  ASSERT_TRUE(api.BluetoothSelectDevices(&select));
  platform::SetDevicePicker(previous);
  ASSERT_EQ(select.cNumDevices, 1u);
  // The program may turn the radio off before it frees what it was given.
  vradio::Enable(false);
  EXPECT_TRUE(api.BluetoothSelectDevicesFree(&select));
  EXPECT_EQ(select.pDevices, nullptr);
  EXPECT_EQ(select.cNumDevices, 0u);
  vradio::Enable(true);
  EXPECT_FALSE(api.BluetoothSelectDevicesFree(&select));
  // A list the library did not make is left alone.
  BLUETOOTH_DEVICE_INFO mine[1] = {};
  select.pDevices = mine;
  select.cNumDevices = 1;
  EXPECT_FALSE(api.BluetoothSelectDevicesFree(&select));
  EXPECT_EQ(select.pDevices, mine);
}

// The picker's dialogue over files standing in for the terminal (in the
// temporary directory: Windows' tmpfile wants the root of the drive).
int Prompt(const std::vector<platform::BluetoothDeviceChoice>& devices, const std::string& typed,
           std::string* shown = nullptr) {
  const std::string dir = VirtualRadios::MakePrivateDirectory();
  const std::string inPath = dir + "/in", outPath = dir + "/out";
  std::FILE* in = std::fopen(inPath.c_str(), "w+");
  std::FILE* out = std::fopen(outPath.c_str(), "w+");
  EXPECT_TRUE(in != nullptr && out != nullptr);
  if (in == nullptr || out == nullptr) return -2;
  std::fputs(typed.c_str(), in);
  std::rewind(in);
  const int chosen = platform::PromptForDevice(devices, in, out);
  std::rewind(out);
  char buffer[512] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
  if (shown != nullptr) shown->assign(buffer, n);
  std::fclose(in);
  std::fclose(out);
  VirtualRadios::RemoveDirectory(dir);
  return chosen;
}

TEST(BluetoothDevicePrompt, ListsTheDevicesAndTakesOnlyOneOfTheirNumbers) {
  const std::vector<platform::BluetoothDeviceChoice> devices = {{0xA1B2C3D4E5F6ull, "first"},
                                                                {0x42, "second"}};
  std::string shown;
  EXPECT_EQ(Prompt(devices, "2\n", &shown), 1);
  EXPECT_NE(shown.find("  1. (A1:B2:C3:D4:E5:F6) first\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("  2. (00:00:00:00:00:42) second\n"), std::string::npos) << shown;
  for (const char* typed : {"0\n", "3\n", "-1\n", "x\n", ""}) {
    SCOPED_TRACE(typed);
    EXPECT_EQ(Prompt(devices, typed), -1);
  }
  EXPECT_EQ(Prompt({}, "1\n", &shown), -1);
  EXPECT_TRUE(shown.empty());
}

}  // namespace
}  // namespace quorlink::testing
