#include "text_rules_model.hpp"

namespace trailavi::test {

std::vector<std::string> model_pieces(std::string_view raw) {
  std::string text;
  for (char c : raw) {
    if (c == 0x1A) break;
    if (c != '\r') text.push_back(c);
  }
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : text) {
    piece.push_back(c);
    if (c == '\n' || piece.size() == 255) {
      pieces.push_back(piece);
      piece.clear();
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

}  // namespace trailavi::test
