// SPDX-License-Identifier: MIT
// The choice among the instruction-set levels of the element loops.

#include "mathla/kernels.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace qmdata::detail {

namespace {

// The CPU's features are asked of GCC's and clang's x86 runtime; elsewhere
// no wide level is compiled in the first place.
#if (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
bool CpuHas(Isa isa) {
  __builtin_cpu_init();  // may run before the program's own constructors
  switch (isa) {
    case Isa::kAvx2:
      return __builtin_cpu_supports("avx2");
    case Isa::kAvx512:
      return __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("avx512f");
    default:
      return true;
  }
}
#else
bool CpuHas(Isa isa) { return isa == Isa::kBaseline; }
#endif

}  // namespace

const Kernels* ChooseUpTo(const char* cap) {
  Isa top = Isa::kAvx512;
  if (cap != nullptr && std::strcmp(cap, "avx2") == 0) top = Isa::kAvx2;
  if (cap != nullptr && std::strcmp(cap, "baseline") == 0) top = Isa::kBaseline;
  for (Isa isa : {Isa::kAvx512, Isa::kAvx2}) {
    const Kernels* k = isa <= top ? KernelsFor(isa) : nullptr;
    if (k != nullptr) return k;
  }
  return &kBaselineKernels;
}

const Kernels* KernelsFor(Isa isa) {
  switch (isa) {
    case Isa::kBaseline:
      return &kBaselineKernels;
    case Isa::kAvx2:
      return kAvx2Kernels && CpuHas(isa) ? kAvx2Kernels : nullptr;
    case Isa::kAvx512:
      return kAvx512Kernels && CpuHas(isa) ? kAvx512Kernels : nullptr;
  }
  return nullptr;
}

// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
std::atomic<const Kernels*> g_active_kernels{nullptr};

const Kernels& ChooseActive() {
  // Chosen once; the guard makes the first call safe from any thread.
  // getenv races only with a setenv of the caller's in another thread, and
  // the library reads the variable this once.
  static const Kernels* const chosen =
      ChooseUpTo(std::getenv("QMDATA_ISA"));  // NOLINT(concurrency-mt-unsafe)
  g_active_kernels.store(chosen, std::memory_order_release);
  return *chosen;
}

}  // namespace qmdata::detail
