// Prints the instruction-set tiers this processor offers, one name a line,
// lowest first: the tiers that a per-tier test run can really run here.
#include <cstdio>
#include <initializer_list>

#include "isa/isa.h"

int main() {
  for (quarvel::Isa isa : {quarvel::Isa::Portable, quarvel::Isa::Avx2, quarvel::Isa::Avx512}) {
    if (isa <= quarvel::BestIsa()) std::printf("%s\n", quarvel::IsaName(isa));
  }
  return 0;
}
