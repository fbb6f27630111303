/// @file
/// The common ancestor of the library's components: who we are and the About box.
#pragma once

#include <cstdint>
#include <string>

#include "quorlink/core/Classes.h"
#include "quorlink/core/Export.h"

namespace quorlink {

/// The common ancestor of the library's components: who they are, and the
/// About box.
class QUORLINK_API TQuorBaseComponent : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TQuorBaseComponent"; }

  ///@{
  /// The published About: always "Quorlink Library"; the setter ignores
  /// the value.
  std::string GetAbout() const { return "Quorlink Library"; }
  void SetAbout(const std::string&) {}
  ///@}
  ///@{
  /// The published Version: 0x0101 (1.1, major in the high byte); the
  /// setter ignores the value.
  std::uint16_t GetVersion() const { return 0x0101; }
  void SetVersion(std::uint16_t) {}
  ///@}

  /// Shows the modal About box; returns when it is closed. Main thread.
  void ShowAbout();

  void GetProperties(TPropList& list) const override;
};

/// "1.1" for 0x0101: major, a full stop, minor, in decimal.
QUORLINK_API std::string VersionText(std::uint16_t version);

}  // namespace quorlink
