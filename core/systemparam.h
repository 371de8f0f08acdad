#pragma once

#include <QtGlobal>

// The machine-wide settings record: 350 signed 32-bit slots addressed by number.
// It is copied and compared as one block, so it must stay a plain array.
struct SystemParam {
    static constexpr int SlotCount = 350;

    qint32 value[SlotCount];

    qint32& operator[](int slot) { return value[slot]; }
    qint32 operator[](int slot) const { return value[slot]; }
};
static_assert(sizeof(SystemParam) == 1400, "SystemParam must be exactly 350 slots");

// The live record every part of the system reads, and the settings screens' copy.
extern SystemParam* gpSystemParam;
extern SystemParam* gpSystemParamEdit;
