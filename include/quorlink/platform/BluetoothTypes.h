// Winsock's Bluetooth family and name space and the Bluetooth API's records,
// with the SDK's names; the build picks the copy (see platform/Types.h).
#pragma once

#include "quorlink/platform/os/BluetoothTypes.h"
