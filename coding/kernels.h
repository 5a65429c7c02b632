// The kernel table of each instruction-set tier.
#pragma once

#include "isa/kernels.h"

namespace quarvel {

// The kernels of `isa`; a tier the build does not have (AVX2 and AVX-512
// off x86) gives the portable kernels.
const Kernels& KernelsFor(Isa isa);

}  // namespace quarvel
