// Lane vectors as the engines use them, and whether the blocks and the chunks'
// arithmetic run eight lanes wide.
#pragma once

#include "lanemath/vectors.hpp"

namespace vorlisk::envs {

using namespace vorlisk::lanemath;

// Whether blocks and the chunks' arithmetic may run eight lanes wide: the processor
// has AVX2 and no test has asked for the four-wide form.
bool wide_blocks_enabled();
// Lets tests run both forms and compare their bits.
void force_narrow_blocks(bool narrow);

}  // namespace vorlisk::envs
