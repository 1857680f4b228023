// The constants of the display values' logarithm, shared by the scalar
// reference and the SIMD body (display_kernels_impl.h): ln(x) = e ln 2 +
// ln(m), m in [sqrt(1/2), sqrt(2)); ln(1 + t) for t = m - 1 from a minimax
// polynomial (the single-precision logarithm of the Cephes library), with
// ln 2 split in two for exactness.
#pragma once

namespace qrx {
namespace display {

constexpr float kSqrtHalf = 0.707106781186547524f;
constexpr int kLogPolynomialTerms = 9;
constexpr float kLogPolynomial[kLogPolynomialTerms] = {7.0376836292E-2f,  -1.1514610310E-1f, 1.1676998740E-1f,
                                                       -1.2420140846E-1f, 1.4249322787E-1f,  -1.6668057665E-1f,
                                                       2.0000714765E-1f,  -2.4999993993E-1f, 3.3333331174E-1f};
constexpr float kLn2Low = -2.12194440e-4f;
constexpr float kLn2High = 0.693359375f;
constexpr float kLog10E = 0.434294481903251827651f;

}  // namespace display
}  // namespace qrx
