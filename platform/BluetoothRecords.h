// What the Bluetooth API backends fill in and ask the same way on every OS:
// names in the records, a radio's record, and the default device picker's
// dialogue (each OS decides whether there is a terminal to hold it on).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/BluetoothApi.h"
#include "quorlink/platform/BluetoothTypes.h"

namespace quorlink::platform {

// UTF-8 to UTF-16, cut to the record's field with its terminating zero (a
// character that does not fit whole is left out).
void CopyBluetoothName(const std::string& text, WCHAR (&out)[BLUETOOTH_MAX_NAME_SIZE]);

// A radio record; the manufacturer is the value Bluetooth leaves unassigned.
void FillRadioInfo(BTH_ADDR address, const std::string& name, BLUETOOTH_RADIO_INFO& info);

// Gives the caller the chosen device as BluetoothSelectDevices does.
void HandOverChosen(BLUETOOTH_SELECT_DEVICE_PARAMS& params, const BLUETOOTH_DEVICE_INFO& device);
// Frees what HandOverChosen gave and empties the record; false, touching
// nothing, for a record it did not fill (the system's, say).
bool ReleaseChosen(BLUETOOTH_SELECT_DEVICE_PARAMS* params);

// The index of the device whose number (from 1) is read from `in` after the
// list is written to `out`; -1 for no devices, the end of input, or anything
// but one of the numbers.
int PromptForDevice(const std::vector<BluetoothDeviceChoice>& devices, std::FILE* in,
                    std::FILE* out);

}  // namespace quorlink::platform
