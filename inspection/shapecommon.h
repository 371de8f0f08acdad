#pragma once

#include <QJsonObject>
#include <QPen>

class QPainter;
class QTextStream;

// Small pieces the three shapes share; not part of the shapes' interface.
namespace shapecommon {

// Handle and grow tolerance of the editor, in image pixels.
constexpr int HandleTolerance = 20;

// The next signed integer of a text record; 0 when the record has ended or
// holds no number there.
int readInt(QTextStream& stream);

// Image size carried by a fromText hint.
int hintWidth(const QJsonObject& hint);
int hintHeight(const QJsonObject& hint);

// The caller's pen, 3 px wide and magenta for a selected shape; it is set on the
// painter and stays there after the shape has drawn.
QPen outlinePen(QPainter* painter, bool selected);

} // namespace shapecommon
