#pragma once

#include "detectresult.h"

// The records service's side of the inspection engine's hand-over, for the
// implementations of InspectionPeers: its current record, and the three steps
// of taking a finished one (current record, today's live data, result row), in
// that order.
DetectResult currentRecordsResult();
void handOverToRecords(const DetectResult& result);
