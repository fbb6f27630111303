#include "core/QuorBaseComponent.h"

namespace quorlink {

// Replaced by the About box built through the visual classes.
void TQuorBaseComponent::ShowAbout() {}

}  // namespace quorlink
