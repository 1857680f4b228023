// The frei0r entry points: a filter of colour model BGRA8888 whose
// instances are StreamFilters. Hosts call one instance from one thread at a
// time and different instances from any threads; instances share nothing.
// MLT breaks the first rule when a frei0r filter's "threads" property is
// set (it cuts frames into slices and passes them to one instance from
// several threads at once), so each instance takes its own lock.
//
// QRX_FREI0R_TRACE=1 in the environment puts one line per call on standard
// error (thread, call, sizes, parameter values, frame time): what a host
// does, seen from the module.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <thread>

#include "frei0r/stream_filter.h"
#include "platform/platform.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

// The header declares the functions without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

namespace {

using qrx::StreamFilter;

struct Instance {
  Instance(unsigned width, unsigned height) : stream(width, height) {}
  qrx::platform::CriticalSection lock;
  StreamFilter stream;
};

enum Parameter { kSettings = 0, kSection, kFilters, kFftLine, kParameterCount };

const f0r_param_info_t kParameters[kParameterCount] = {
    {"settings", F0R_PARAM_STRING,
     "Settings file in the plug-in's format (QRX_FreqFilter.ini), read only; empty: none"},
    {"section", F0R_PARAM_STRING,
     "Channel section of the settings file; empty: [DEFAULT], else the first channel section"},
    {"filters", F0R_PARAM_STRING,
     "Filter list as the settings file's Filter= text (En:1/Fx:../Fy:../Wx:../Wy:../O:../S:../T:..// per filter); "
     "when given it is the list"},
    {"fft_line", F0R_PARAM_DOUBLE,
     "FFT line length 256, 512 or 1024 (or 0.25, 0.5, 1: the length / 1024); 0: the settings file's, else 512"},
};

bool g_trace = false;

unsigned long long ThreadNumber() {
  return static_cast<unsigned long long>(std::hash<std::thread::id>()(std::this_thread::get_id()) & 0xFFFFFFu);
}

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Trace(const char* format, ...) {
  if (!g_trace) return;
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof(line), format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "qrx_freqfilter: trace thread %06llx %s\n", ThreadNumber(), line);
}

// A string parameter arrives as a pointer to the string's address (char**).
// GStreamer's frei0r wrapper, when a string property changes on an element
// that already has an instance, passes the string's address itself. On
// 64-bit Linux the two are told apart: an address is a user-space value (top
// 17 bits zero) on a mapped page, and the first eight bytes of text are not
// (text bytes there would have to be zero, and the page mapped).
const char* StringParameter(const void* param) {
#if defined(__x86_64__) && defined(__linux__)
  uintptr_t candidate;
  // The eight bytes may run past a short string's end, within its heap block.
  std::memcpy(&candidate, param, sizeof(candidate));
  if (candidate != 0) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    unsigned char resident;
    const bool userSpace = (candidate >> 47) == 0;
    if (!userSpace || mincore(reinterpret_cast<void*>(candidate & ~(page - 1)), page, &resident) != 0) {
      return static_cast<const char*>(param);
    }
  }
#endif
  return *static_cast<const char* const*>(param);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int f0r_init(void) {
  const char* trace = std::getenv("QRX_FREI0R_TRACE");
  g_trace = trace != nullptr && *trace != '\0' && *trace != '0';
  Trace("init");
  return 1;
}

__attribute__((visibility("default"))) void f0r_deinit(void) { Trace("deinit"); }

__attribute__((visibility("default"))) void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  if (info == nullptr) return;
  info->name = "QRX FreqFilter";
  info->author = "QRX_FreqFilter";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_BGRA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = kParameterCount;
  info->explanation = "Removes periodic interference (stripes, moire, carrier beats) in the frequency domain";
}

__attribute__((visibility("default"))) void f0r_get_param_info(f0r_param_info_t* info, int index) {
  if (info == nullptr || index < 0 || index >= kParameterCount) return;
  *info = kParameters[index];
}

__attribute__((visibility("default"))) f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  Instance* filter = new (std::nothrow) Instance(width, height);
  Trace("construct %u x %u -> %p", width, height, static_cast<void*>(filter));
  return filter;
}

__attribute__((visibility("default"))) void f0r_destruct(f0r_instance_t instance) {
  Trace("destruct %p", instance);
  delete static_cast<Instance*>(instance);
}

__attribute__((visibility("default"))) void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  Instance* filter = static_cast<Instance*>(instance);
  if (filter == nullptr || param == nullptr) return;
  qrx::platform::ScopedLock lock(filter->lock);
  switch (index) {
    case kSettings:
    case kSection:
    case kFilters: {
      const char* text = StringParameter(param);
      Trace("set %p %s \"%s\"", instance, kParameters[index].name, text != nullptr ? text : "(null)");
      if (index == kSettings) filter->stream.SetSettingsPath(text);
      if (index == kSection) filter->stream.SetSection(text);
      if (index == kFilters) filter->stream.SetFilters(text);
      break;
    }
    case kFftLine: {
      const double value = *static_cast<const double*>(param);
      Trace("set %p fft_line %g", instance, value);
      filter->stream.SetFftLine(value);
      break;
    }
    default:
      break;
  }
}

__attribute__((visibility("default"))) void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  Instance* filter = static_cast<Instance*>(instance);
  if (filter == nullptr || param == nullptr) return;
  qrx::platform::ScopedLock lock(filter->lock);
  const qrx::ModuleParameters& p = filter->stream.Parameters();
  // Strings: the address of the instance's own copy, valid until the next
  // change of that parameter.
  switch (index) {
    case kSettings:
      *static_cast<const char**>(param) = p.settings.c_str();
      break;
    case kSection:
      *static_cast<const char**>(param) = p.section.c_str();
      break;
    case kFilters:
      *static_cast<const char**>(param) = p.filters.c_str();
      break;
    case kFftLine:
      *static_cast<double*>(param) = p.fftLine;
      break;
    default:
      break;
  }
}

__attribute__((visibility("default"))) void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                                                       uint32_t* outframe) {
  Trace("update %p time %.6f in %p out %p", instance, time, static_cast<const void*>(inframe),
        static_cast<void*>(outframe));
  Instance* filter = static_cast<Instance*>(instance);
  if (filter == nullptr) return;
  qrx::platform::ScopedLock lock(filter->lock);
  filter->stream.Update(reinterpret_cast<const uint8_t*>(inframe), reinterpret_cast<uint8_t*>(outframe));
}

}  // extern "C"
