// The service classes as the program takes them: the table's names, their
// words ("Serial Port"), and 16-, 32- or 128-bit UUIDs of the table's rows.
#pragma once

#include <string>

namespace quorlink::tools {

struct ServiceChoice {
  std::string name;   // the table's name, as Service takes it; empty when unknown
  std::string words;  // "Serial Port", for the record's name
  std::string error;  // why text names none, with the nearest name
};
ServiceChoice ChooseService(const std::string& text);
// "SerialPortServiceClass" -> "Serial Port".
std::string ServiceWords(const std::string& tableName);

}  // namespace quorlink::tools
