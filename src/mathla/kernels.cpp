// SPDX-License-Identifier: MIT
// The baseline level (the loops at the library's own flags) and the choice.

#include <cstdlib>
#include <string_view>

#include "mathla/kernels_loops.h"

namespace qmdata::detail {
// A table of function pointers, constant-initialised: nothing can throw.
extern const Kernels kBaselineKernels =  // NOLINT(cert-err58-cpp)
    MakeKernels<4>("baseline");
namespace {
// Asks GCC's and clang's x86 runtime; elsewhere no wide level is compiled.
bool CpuHas(Isa isa) {
#if (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
  __builtin_cpu_init();  // may run before the program's own constructors
  return isa == Isa::kBaseline ||
         (__builtin_cpu_supports("avx2") &&
          (isa == Isa::kAvx2 || __builtin_cpu_supports("avx512f")));
#else
  return isa == Isa::kBaseline;
#endif
}
}  // namespace
const Kernels* KernelsFor(Isa isa) {
  const Kernels* const k[] = {&kBaselineKernels, kAvx2Kernels, kAvx512Kernels};
  const auto at = static_cast<std::size_t>(isa);
  return k[at] != nullptr && CpuHas(isa) ? k[at] : nullptr;
}
const Kernels* ChooseUpTo(const char* cap) {
  const std::string_view c = cap != nullptr ? cap : "";
  const int top = c == "baseline" ? 0 : c == "avx2" ? 1 : 2;
  for (int isa = top; isa > 0; --isa) {
    if (const Kernels* k = KernelsFor(static_cast<Isa>(isa))) return k;
  }
  return &kBaselineKernels;
}
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<const Kernels*> g_active_kernels{nullptr};
const Kernels& ChooseActive() {
  // The static's guard makes the first call safe from any thread; getenv
  // races only with a caller's setenv in another thread.
  static const Kernels* const chosen =
      ChooseUpTo(std::getenv("QMDATA_ISA"));  // NOLINT(concurrency-mt-unsafe)
  g_active_kernels.store(chosen, std::memory_order_release);
  return *chosen;
}
}  // namespace qmdata::detail
