// An engine of test size with the system's frequency scale, shared by the
// mask tests. Emulated runs use a smaller frame: the kHz scale per bin is the
// same, so the tests keep horizontal frequencies below about 1200 kHz and
// vertical ones within about +-1800 kHz, which both sizes cover.
#pragma once

#include <cstdint>
#include <memory>

#include "filter/filter_list.h"
#include "platform/platform.h"
#include "transform/fft_engine.h"

namespace qrx {
namespace testing_mask {

#ifdef QRX_SMALL_TESTS
constexpr int32_t kLine = 128;
constexpr int32_t kHeight = 144;
#else
constexpr int32_t kLine = 512;
constexpr int32_t kHeight = 576;
#endif

inline std::unique_ptr<FftEngine> MakeEngine() {
  std::unique_ptr<FftEngine> engine(new FftEngine(kLine, kHeight, kLine, 0, 2, 1));
  if (!engine->IsUsable()) return nullptr;
  engine->AllocateMask();
  engine->SetRates(platform::MulDiv(13500, kLine, 704), platform::MulDiv(14727, kHeight, 576));
  return engine;
}

inline FilterSpec Spec(int32_t T, int32_t Fx, int32_t Fy, int32_t Wx, int32_t Wy, int32_t O,
                       int32_t S, int32_t En = 1) {
  return FilterSpec{En, Fx, Fy, Wx, Wy, O, S, T};
}

}  // namespace testing_mask
}  // namespace qrx
