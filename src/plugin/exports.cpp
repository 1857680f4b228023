// The module's only two exported functions. Everything else the host reaches
// through the descriptor's entry points.
#include "plugin/host_records.h"
#include "plugin/plugin_state.h"

#if defined(_WIN32)
#define QRX_EXPORT __declspec(dllexport)
#else
#define QRX_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr int32_t kInterfaceVersion = 3;

const qrx::PluginDescriptor kDescriptor = {
    qrx::kPluginDisplayName, "", qrx::Init, qrx::Start, qrx::Process, qrx::Stop, qrx::ShowDialog, qrx::Exit,
};

}  // namespace

extern "C" {

QRX_EXPORT int32_t Velmorin_Plugin_Version() { return kInterfaceVersion; }

QRX_EXPORT const qrx::PluginDescriptor* Velmorin_Plugin_PR() { return &kDescriptor; }

}  // extern "C"
