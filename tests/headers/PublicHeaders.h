// Every public header of the library, included as a program does, for the tests that build them beside
// the system's headers in different orders.
#pragma once

#include <quorlink/bluetooth/QuorBluetooth.h>
#include <quorlink/bluetooth/QuorBluetoothAPI.h>
#include <quorlink/bluetooth/QuorBluetoothConnection.h>
#include <quorlink/bluetooth/QuorBluetoothProvider.h>
#include <quorlink/bluetooth/QuorBluetoothText.h>
#include <quorlink/comport/QuorComPort.h>
#include <quorlink/core/Application.h>
#include <quorlink/core/Classes.h>
#include <quorlink/core/FormStream.h>
#include <quorlink/core/FormText.h>
#include <quorlink/core/Forms.h>
#include <quorlink/core/QuorBaseComponent.h>
#include <quorlink/core/QuorCustomTransport.h>
#include <quorlink/core/QuorStrings.h>
#include <quorlink/core/SysUtils.h>
#include <quorlink/core/TextPresenter.h>
#include <quorlink/core/Threads.h>
#include <quorlink/core/TypInfo.h>
#include <quorlink/core/Version.h>
#include <quorlink/design/DesignEditors.h>
#include <quorlink/design/DesignRegistry.h>
#include <quorlink/design/PaletteBitmaps.h>
#include <quorlink/design/QuorPropEdit.h>
#include <quorlink/design/QuorReg.h>
#include <quorlink/obex/QuorOBEX.h>
#include <quorlink/platform/ApiSlot.h>
#include <quorlink/platform/BluetoothTypes.h>
#include <quorlink/platform/Messages.h>
#include <quorlink/platform/Serial.h>
#include <quorlink/platform/Types.h>
