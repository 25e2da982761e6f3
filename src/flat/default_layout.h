#ifndef TLY_FLAT_DEFAULT_LAYOUT_H_
#define TLY_FLAT_DEFAULT_LAYOUT_H_

#include "config/tly_config.h"

namespace tly {

// Writes the generator's fixed counting site into `config`: device type "RV9",
// flags 0, doors 1..4 "Porte 1".."Porte 4" and door 5 "Passage 1" (kind 'C'),
// channels 2d-1 (in) and 2d (out) on door d, channels 1..10 active. Both tables
// are overwritten completely, so the result does not depend on what was there
// before; port, shop name, KValue, FValue, Seal, DataHash and the channels'
// Kind stay. Never fails.
void ApplyDefaultLayout(TTlyConfig& config);

}  // namespace tly

#endif  // TLY_FLAT_DEFAULT_LAYOUT_H_
