#include "engine/text/number_utils.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace sorvane {
namespace {

bool IsSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int DigitValue(char c) {
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// The characters of the text that take part in the number, without the
// skipped blanks; collection stops at `limit` characters, which is far more
// than any number can use.
std::string Compact(std::string_view text) {
    constexpr std::size_t limit = 4096;
    std::string out;
    for (const char c : text) {
        if (IsSkipped(c))
            continue;
        out.push_back(c);
        if (out.size() >= limit)
            break;
    }
    return out;
}

double RadixValue(std::string_view digits, int radix) {
    double value = 0;
    for (const char c : digits) {
        const int d = DigitValue(c);
        if (d >= radix)
            break;
        value = value * radix + d;
    }
    return value;
}

} // namespace

double NumericValue(std::string_view text) {
    const std::string s = Compact(text);
    if (s.size() >= 2 && s[0] == '&') {
        if (s[1] == 'H' || s[1] == 'h')
            return RadixValue(std::string_view(s).substr(2), 16);
        if (s[1] == 'O' || s[1] == 'o')
            return RadixValue(std::string_view(s).substr(2), 8);
        return 0;
    }
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    bool digits = false;
    while (i < s.size() && IsDigit(s[i]))
        ++i, digits = true;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i]))
            ++i, digits = true;
    }
    if (!digits)
        return 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        if (j < s.size() && IsDigit(s[j])) {
            while (j < s.size() && IsDigit(s[j]))
                ++j;
            i = j;
        }
    }
    // from_chars, unlike strtod, ignores the locale and takes no "+".
    std::size_t start = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-')
        negative = s[0] == '-', start = 1;
    double value = 0;
    const auto result = std::from_chars(s.data() + start, s.data() + i, value);
    if (result.ec == std::errc::result_out_of_range) {
        const bool tiny =
            std::string_view(s).substr(0, i).find_first_of("-", start) != std::string::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

bool IsBetween(double x, double a, double b, bool strict) {
    if (a <= b)
        return a <= x && x <= b;
    if (strict)
        return false;
    return b <= x && x <= a;
}

std::int32_t ToInt32(double value) {
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value);
    if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

std::int32_t MaxOf(double a, double b) {
    return ToInt32(a > b ? a : b);
}

} // namespace sorvane
