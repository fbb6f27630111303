// Every public header of the library, for the tests that build them beside
// the system's headers in different orders.
#pragma once

#include "bluetooth/QuorBluetooth.h"
#include "bluetooth/QuorBluetoothAPI.h"
#include "bluetooth/QuorBluetoothConnection.h"
#include "bluetooth/QuorBluetoothProvider.h"
#include "bluetooth/QuorBluetoothText.h"
#include "comport/QuorComPort.h"
#include "core/Application.h"
#include "core/Classes.h"
#include "core/FormStream.h"
#include "core/FormText.h"
#include "core/Forms.h"
#include "core/QuorBaseComponent.h"
#include "core/QuorCustomTransport.h"
#include "core/QuorStrings.h"
#include "core/SysUtils.h"
#include "core/TextPresenter.h"
#include "core/Threads.h"
#include "core/TypInfo.h"
#include "core/Version.h"
