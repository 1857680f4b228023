// The FFT line rule on its own, so that a reader of settings files (the
// frei0r module) links it without the store and its file writer.
#include "settings/settings_store.h"

namespace qrx {

int32_t EffectiveFftLine(int32_t fftLine) {
  return (fftLine == 256 || fftLine == 512 || fftLine == 1024) ? fftLine : 512;
}

}  // namespace qrx
