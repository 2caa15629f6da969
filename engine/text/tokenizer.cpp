#include "engine/text/tokenizer.h"

namespace sorvane {

std::string Tokenizer::FirstToken(std::string_view text, std::string_view separator) {
    long start = 0;
    return NextToken(text, separator, &start);
}

std::string Tokenizer::NextToken(std::string_view text, std::optional<std::string_view> separator,
                                 long* position) {
    if (text.empty())
        return {};
    if (separator)
        separator_ = *separator;
    if (separator_.empty())
        return {};
    bool wholeRest = false;
    if (position != nullptr) {
        if (*position < 0)
            wholeRest = true;
        else
            position_ = *position;
    }
    if (position_ <= 0)
        position_ = 1;

    const auto length = static_cast<long>(text.size());
    if (length < position_) {
        // Past the end: the caller's position is left as it was.
        position_ = 0;
        return {};
    }
    std::string token;
    const auto start = static_cast<std::size_t>(position_ - 1);
    const auto found = wholeRest ? std::string_view::npos : text.find(separator_, start);
    if (found == std::string_view::npos) {
        token = text.substr(start);
        position_ = length + 1;
    } else {
        token = text.substr(start, found - start);
        position_ = static_cast<long>(found + separator_.size()) + 1;
    }
    if (position != nullptr)
        *position = position_;
    return token;
}

std::optional<std::vector<std::string>> SplitText(std::string_view text,
                                                  std::string_view separator) {
    if (text.empty())
        return std::nullopt;
    Tokenizer tokenizer;
    std::vector<std::string> parts;
    for (std::string token = tokenizer.FirstToken(text, separator); !token.empty();
         token = tokenizer.NextToken(text))
        parts.push_back(std::move(token));
    if (parts.empty())
        return std::nullopt;
    return parts;
}

} // namespace sorvane
