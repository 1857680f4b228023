// The spectrum view's drawing on cairo (see cairo_canvas.h).
#include "cairo_canvas.h"

namespace qrxhost {

namespace {
double Channel(uint32_t colour, int shift) { return ((colour >> shift) & 0xFF) / 255.0; }

void SetColour(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, Channel(argb, 16), Channel(argb, 8), Channel(argb, 0), Channel(argb, 24));
}
}  // namespace

CairoCanvas::CairoCanvas(cairo_t* cr, int32_t x, int32_t y, int32_t width, int32_t height)
    : cr_(cr), x_(x), y_(y), width_(width), height_(height) {}

CairoCanvas::~CairoCanvas() {
  if (image_ != nullptr) cairo_surface_destroy(image_);
}

bool CairoCanvas::LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) {
  if (image_ == nullptr || cairo_image_surface_get_width(image_) != width ||
      cairo_image_surface_get_height(image_) != height) {
    if (image_ != nullptr) cairo_surface_destroy(image_);
    // 32-bit pixels 0x00RRGGBB in the machine's byte order: the palette's own.
    image_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  }
  if (cairo_surface_status(image_) != CAIRO_STATUS_SUCCESS) return false;
  cairo_surface_flush(image_);
  *pixels = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image_));
  *pitch = cairo_image_surface_get_stride(image_);
  return *pixels != nullptr;
}

void CairoCanvas::UnlockImage() {
  if (image_ != nullptr) cairo_surface_mark_dirty(image_);
}

void CairoCanvas::BlitImage() {
  if (image_ == nullptr) return;
  cairo_save(cr_);
  cairo_rectangle(cr_, x_, y_, width_, height_);
  cairo_clip(cr_);
  cairo_translate(cr_, x_, y_);
  cairo_scale(cr_, static_cast<double>(width_) / cairo_image_surface_get_width(image_),
              static_cast<double>(height_) / cairo_image_surface_get_height(image_));
  cairo_set_source_surface(cr_, image_, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(cairo_get_source(cr_), CAIRO_EXTEND_PAD);
  cairo_paint(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::Clear(uint32_t colour) {
  cairo_save(cr_);
  cairo_rectangle(cr_, x_, y_, width_, height_);
  SetColour(cr_, colour | 0xFF000000u);
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::DrawLineStrip(const qrx::ui::Vertex* v, int32_t count) {
  cairo_save(cr_);
  cairo_rectangle(cr_, x_, y_, width_, height_);
  cairo_clip(cr_);
  cairo_set_line_width(cr_, 1.0);
  // Each segment in its first vertex's colour; pixel centres at +0.5.
  for (int32_t i = 0; i + 1 < count; ++i) {
    SetColour(cr_, v[i].colour);
    cairo_move_to(cr_, x_ + v[i].x + 0.5, y_ + v[i].y + 0.5);
    cairo_line_to(cr_, x_ + v[i + 1].x + 0.5, y_ + v[i + 1].y + 0.5);
    cairo_stroke(cr_);
  }
  cairo_restore(cr_);
}

}  // namespace qrxhost
