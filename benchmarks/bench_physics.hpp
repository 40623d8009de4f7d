#pragma once

namespace bench {

// Seeded ensembles on the physical model against the cycle model on the same chains, in trials
// per second, measured in the same run (see bench_physics.cpp).
void physical_ensembles();

}  // namespace bench
