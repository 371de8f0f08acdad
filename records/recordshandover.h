#pragma once

#include "detectresult.h"

// The records service's side of the inspection engine's hand-over, for the
// implementations of InspectionPeers: its current record, and the three steps
// of taking a finished one (current record, today's live data, result row), in
// that order.
DetectResult currentRecordsResult();
// Stores a changed copy back as the current record, and nothing more: no row,
// no live data (the cycle's camera index before the engine runs).
void setRecordsResult(const DetectResult& result);
void handOverToRecords(const DetectResult& result);
