#pragma once

#include "systemparam.h"

#include <QString>

// The sentence the operation log keeps for one confirmed settings save: the
// header followed by one fragment per changed setting, in a fixed order, with
// the live value as "old" and the edited one as "new". It is what the plant
// reads afterwards, so it is a pure function of the two records and the
// language in force.
QString paramChangeSentence(const SystemParam& edit, const SystemParam& live);

// Whether any detection algorithm is left switched on in the record; a record
// without one is refused by the apply step.
bool anyDetectAlgorithmOn(const SystemParam& record);

// The run-time slots that follow from the chosen machine type and mould side,
// worked out again in the record: 189, 290, 81, 82, 113 to 115, 119 to 122.
// Returns the side selector the main window keeps (curSide), which is left as
// given when both sides run and on a standard machine.
int deriveMachineSlots(SystemParam* record, int curSide);

// New operator texts of the settings screens (text numbers).
constexpr int kTextMouldSide = 663;          // label of the mould side in the change sentence
constexpr int kTextResetCountQuestion = 664; // the counter reset's question
constexpr int kTextSaveFailed = 665;         // the settings could not be written to the disk
