// The word a user most likely meant, for "did you mean" hints.
#pragma once

#include <string>
#include <vector>

namespace quorlink::tools {

// The candidate closest to word (edit distance, case ignored), or empty when
// none is close enough to be a likely slip.
std::string Nearest(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace quorlink::tools
