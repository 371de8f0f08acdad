#pragma once

// How long a test waits for a state that another thread, a timer or a child
// process brings about. Generous on purpose: a loaded two-core machine runs a
// worker under the thread checker many times slower than a developer's desk,
// and a wait ends as soon as the state is there, so a passing run pays
// nothing for it. Bounds on how fast something happens belong in bench/.
constexpr int kSettleMs = 30000;
