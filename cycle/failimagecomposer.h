#pragma once

#include <QImage>
#include <QString>

class CameraStation;

// Composes the NG/OK pictures of a camera station and adds the notes of how an
// alarm was lifted: the station's SaveFailImage and UpdateFailImage, as plain
// functions so a test can look at the picture without a screen. GUI thread.
namespace FailImageComposer {
// The picture of the station's last inspection of the detect: the judged
// frame, every area outlined in green (OK) or red (NG), failing blobs boxed,
// a label per area, the verdict and, for a door-triggered detect, that line.
// Records the first failing area for the writer's file name.
QImage compose(CameraStation& station, int detect, int kind, bool doorTrigger);
// compose() and then the copy into the picture slot; false without a slot.
bool SaveFailImage(CameraStation& station, int detect, int kind, bool doorTrigger);
// The note of the picture state (4, 5, 7, 8; nothing for others) drawn onto
// the picture in the slot of (station, detect, kind).
bool UpdateFailImage(CameraStation& station, int detect, int kind, int state);
// The note's text for a state; empty for states without one.
QString noteText(int state);
// The label of area v of the detect as drawn on the picture.
QString areaLabel(const CameraStation& station, int detect, int v, int imageWidth);
} // namespace FailImageComposer
