#pragma once
// Small numeric helpers: the lenient number reader used for version parts and
// settings values, and the three tiny procedures for ranges, maxima and flags.

#include <cstdint>
#include <string_view>

namespace sorvane {

/// The value of the leading number of `text`. Blanks, tabs and line feeds are
/// skipped wherever they stand; then an optional sign, digits with an optional
/// decimal point, and an optional exponent (E, optional sign, digits) are read
/// up to the first character that cannot continue the number. A text that
/// starts with "&H" or "&O" is read as hexadecimal or octal digits. A text
/// with no number yields 0.
double NumericValue(std::string_view text);

/// With a <= b: true exactly when a <= x <= b. With a > b: false when
/// `strict`, otherwise true exactly when b <= x <= a.
bool IsBetween(double x, double a, double b, bool strict = false);

/// The larger of two numbers, rounded half to even and clamped to 32 bits.
std::int32_t MaxOf(double a, double b);

/// 1 for any non-zero flag, 0 otherwise.
constexpr int FlagToBit(long long flag) {
    return flag != 0 ? 1 : 0;
}

/// Rounds half to even and clamps into the 32-bit range (NaN gives 0).
std::int32_t ToInt32(double value);

} // namespace sorvane
