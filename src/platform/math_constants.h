// π, defined once for the whole tree (the long double for the few
// computations carried out at that precision).
#pragma once

namespace qrx {

constexpr double kPi = 3.14159265358979323846;
constexpr long double kPiLong = 3.141592653589793238462643383279502884L;

}  // namespace qrx
