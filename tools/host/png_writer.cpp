// PNG output of frames through libpng (native builds); without it the
// writers report failure.
#include <cstdio>
#include <vector>

#include "demo_picture.h"

#if defined(QRX_HOST_HAVE_PNG)
#include <png.h>
#endif

namespace qrxhost {

namespace {

// rgb: width x height x 3 bytes, top line first.
bool WriteRgbPng(const std::string& path, const std::vector<uint8_t>& rgb, int32_t width, int32_t height) {
#if defined(QRX_HOST_HAVE_PNG)
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < height; ++y) {
    png_write_row(png, const_cast<png_bytep>(&rgb[static_cast<size_t>(y) * width * 3]));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
#else
  (void)path;
  (void)rgb;
  (void)width;
  (void)height;
  return false;
#endif
}

}  // namespace

bool PngAvailable() {
#if defined(QRX_HOST_HAVE_PNG)
  return true;
#else
  return false;
#endif
}

bool WritePngFromBgr24(const std::string& path, const std::vector<uint8_t>& frame, int32_t width, int32_t height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = &frame[static_cast<size_t>(height - 1 - y) * width * 3];  // bottom-up
    uint8_t* out = &rgb[static_cast<size_t>(y) * width * 3];
    for (int32_t x = 0; x < width; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return WriteRgbPng(path, rgb, width, height);
}

bool WritePngFromYuy2(const std::string& path, const std::vector<uint8_t>& frame, int32_t width, int32_t height) {
  return WritePngFromBgr24(path, Yuy2ToBgr24(frame, width, height), width, height);
}

}  // namespace qrxhost
