// qrx_host --spectrum: the averaged spectrum of the input drawn as the
// settings window's view shows it (palette image, the enabled filters'
// outlines, the MHz axis labels) with the view's own drawing code on cairo,
// written as PNG.
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cairo_canvas.h"
#include "filter/filter_list.h"
#include "finder/magnitude_average.h"
#include "host_settings.h"
#include "suggest_command.h"
#include "transform/fft_engine.h"
#include "ui/picture_view.h"

namespace qrxhost {

namespace {

// The window's spectrum area at 96 dots per inch: the picture control
// (714 x 322) inside its grey frame, with room for the labels.
constexpr int32_t kWidth = 775, kHeight = 364;
constexpr qrx::ui::Rect kView = {44, 13, 44 + 714, 13 + 322};
constexpr uint32_t kBackground = 0xF0F0F0;
constexpr uint32_t kLabelColour = 0x600060;
constexpr double kFontPixels = 11.0;

int Fail(const std::string& message) {
  std::fprintf(stderr, "qrx_host: %s\n", message.c_str());
  return 1;
}

void SetRgb(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

void DrawLabels(cairo_t* cr, int32_t R, int32_t V) {
  cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kFontPixels);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  const auto measure = [&](const std::string& text, int32_t* width, int32_t* height) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    *width = static_cast<int32_t>(std::lround(e.x_advance));
    *height = static_cast<int32_t>(std::lround(font.height));
  };
  SetRgb(cr, kLabelColour);
  for (const qrx::ui::AxisLabel& label : qrx::ui::LayOutAxisLabels(kView, R, V, measure)) {
    cairo_move_to(cr, label.x, label.y + font.ascent);  // labels are placed by their top
    cairo_show_text(cr, label.text.c_str());
  }
}

// The picture is written under a temporary name and renamed, so the file
// appears whole or not at all.
bool WritePng(cairo_surface_t* surface, const std::string& path, std::string* error) {
  const std::string temporary = path + ".part";
  if (cairo_surface_write_to_png(surface, temporary.c_str()) != CAIRO_STATUS_SUCCESS ||
      std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

int RunSpectrum(const SuggestRequest& r) {
  ChannelSettingsView view;
  std::string error;
  if (!ReadChannelSettings(r.settings, r.keyLow, r.keyHigh, &view, &error)) return Fail(error);
  const std::unique_ptr<qrx::MagnitudeAverage> average = AverageInput(r, view.fftLine, &error);
  if (average == nullptr) return Fail(error);
  const qrx::FftEngine& engine = average->Engine();

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  cairo_t* cr = cairo_create(surface);
  SetRgb(cr, kBackground);
  cairo_paint(cr);
  {
    qrx::ui::PictureView spectrum(
        std::make_unique<CairoCanvas>(cr, kView.left, kView.top, kView.right - kView.left, kView.bottom - kView.top),
        kView.right - kView.left, kView.bottom - kView.top, kView);
    // The average's display values, on the window's scale.
    const std::vector<float>& mean = average->Mean();
    const float scale = qrx::ui::DisplayScale(engine.WindowSum());
    std::vector<float> display(mean.size());
    for (size_t i = 0; i < mean.size(); ++i) display[i] = static_cast<float>(scale * std::log10(1.0 + mean[i]));
    spectrum.DrawImage(display.data(), average->Bins(), average->Rows());
    spectrum.Canvas().BlitImage();
    // Every enabled filter of the channel, whether processing is on or not:
    // the picture is to show where the filters are.
    qrx::FilterList filters;
    qrx::ParseFilterText(view.filter.data(), view.filter.size(), &filters);
    spectrum.DrawOutlines(filters, -1, engine.RowRateKHz(), engine.ColRateKHz());
  }
  DrawLabels(cr, engine.RowRateKHz(), engine.ColRateKHz());
  cairo_surface_flush(surface);
  const bool written = cairo_status(cr) == CAIRO_STATUS_SUCCESS && WritePng(surface, r.spectrumPng, &error);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  if (!written) return Fail(error.empty() ? "cannot draw the spectrum" : error);
  std::fprintf(stderr, "qrx_host: %lld frames, FFT line %d: spectrum written to %s\n",
               static_cast<long long>(average->Frames()), engine.N(), r.spectrumPng.c_str());
  return 0;
}

}  // namespace qrxhost
