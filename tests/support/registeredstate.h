#pragma once

#include "operatingstate.h"

// An operating state registered for as long as it lives, as the main
// window's cycle registers its own: stations and screens built alone read it.
struct RegisteredOperatingState : OperatingState {
    RegisteredOperatingState() { setOperatingState(this); }
    ~RegisteredOperatingState() override { clearOperatingState(this); }
};
