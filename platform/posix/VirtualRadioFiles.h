// Names and locks in the rendezvous directory, shared by the parts of the
// virtual radio. A file is "live" while some process holds its lock.
#pragma once

#include <cstdint>
#include <string>

namespace quorlink::platform::posix::vradio::files {

// Twelve lower-case hex digits.
std::string Hex48(std::uint64_t address);
bool ParseHex48(const std::string& text, std::uint64_t& address);
// The rendezvous directory, or empty when it cannot be used; the calls of
// the Winsock and Bluetooth backends never raise.
std::string Directory();
// Full path of a name in the rendezvous directory; empty when it cannot be used.
std::string PathOf(const std::string& name);
// Opens (creating) and locks a file exclusively without waiting; -1 with
// errno EWOULDBLOCK when another holder has it.
int LockFile(const std::string& path);
// True while another open description holds the file's lock.
bool IsLocked(const std::string& path);
// Reads a small file whole; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path);
bool WriteSmallFile(int fd, const std::string& text);

}  // namespace quorlink::platform::posix::vradio::files
