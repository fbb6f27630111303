#include "tools/Nearest.h"

#include <algorithm>
#include <cctype>

namespace quorlink::tools {

namespace {

std::string Lower(const std::string& s) {
  std::string out = s;
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string Nearest(const std::string& word, const std::vector<std::string>& candidates) {
  const std::string w = Lower(word);
  std::string best;
  std::size_t bestDistance = 0;
  for (const auto& c : candidates) {
    const std::string l = Lower(c);
    // A prefix or a part of a longer name is a likely meaning too.
    std::size_t d = Distance(w, l);
    if (w.size() >= 3 && l.find(w) != std::string::npos) d = std::min(d, std::size_t{1});
    if (best.empty() || d < bestDistance) {
      best = c;
      bestDistance = d;
    }
  }
  const std::size_t limit = std::max<std::size_t>(2, w.size() / 3);
  return !best.empty() && bestDistance <= limit ? best : std::string{};
}

}  // namespace quorlink::tools
