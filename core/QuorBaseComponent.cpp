#include "quorlink/core/QuorBaseComponent.h"

#include "core/StandardTypes.h"
#include "quorlink/core/Version.h"

namespace quorlink {

// The components report a fixed 1.1 (Version 0x0101); a new major or minor
// release decides here what they report.
static_assert(QUORLINK_VERSION_MAJOR == 1 && QUORLINK_VERSION_MINOR == 1);

std::string VersionText(std::uint16_t version) {
  return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

void TQuorBaseComponent::GetProperties(TPropList& list) const {
  TComponent::GetProperties(list);
  TPropInfo about{"About", &kStringType, false, {}, {}, {}, {}, {}, {}};
  about.GetStr = [](const TComponent& c) {
    return static_cast<const TQuorBaseComponent&>(c).GetAbout();
  };
  about.SetStr = [](TComponent& c, const std::string& v) {
    static_cast<TQuorBaseComponent&>(c).SetAbout(v);
  };
  list.push_back(std::move(about));
  TPropInfo version{"Version", &kWordType, false, {}, {}, {}, {}, {}, {}};
  version.GetOrd = [](const TComponent& c) {
    return std::int64_t{static_cast<const TQuorBaseComponent&>(c).GetVersion()};
  };
  version.SetOrd = [](TComponent& c, std::int64_t v) {
    static_cast<TQuorBaseComponent&>(c).SetVersion(static_cast<std::uint16_t>(v));
  };
  list.push_back(std::move(version));
}

}  // namespace quorlink
