#pragma once
// A text tokenizer that keeps its place between calls, and the splitter built
// on it. Each caller owns its own Tokenizer, so two callers never move each
// other's position.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

inline constexpr std::string_view kCrLf = "\r\n";

class Tokenizer {
public:
    /// Restarts at the beginning of `text` and returns its first token.
    std::string FirstToken(std::string_view text, std::string_view separator = kCrLf);

    /// Returns the next token of `text`. A passed separator replaces the
    /// remembered one. A passed position (1-based) moves the tokenizer there
    /// first; a negative position asks for the whole rest of the text. The
    /// position after the call is written back into `position` when passed.
    /// After the last token the call returns empty text and the following
    /// call starts again at the first token. Two separators in a row give an
    /// empty token. Empty text, or no separator known yet, gives empty text.
    std::string NextToken(std::string_view text,
                          std::optional<std::string_view> separator = std::nullopt,
                          long* position = nullptr);

    /// 1-based position where the next token starts; 0 after the end.
    long Position() const { return position_; }

private:
    std::string separator_;
    long position_ = 0;
};

/// Splits `text` at every `separator` up to the first empty part. Gives
/// nothing (an empty optional) for empty text or when the first part is empty.
std::optional<std::vector<std::string>> SplitText(std::string_view text,
                                                  std::string_view separator = kCrLf);

} // namespace sorvane
