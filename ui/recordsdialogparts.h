#pragma once

#include "resultquery.h"

#include <QPoint>
#include <QSize>
#include <QString>

class ComboBox;
class FromTimeToTime;
class QPushButton;
class QWidget;

// What the production statistics and the temperature chart dialogs share:
// their title bar, their filter boxes, where they stand and the query their
// filter bar makes.

// The title bar of a records dialog: icon, title and the red close button.
QWidget* makeRecordsTitleBar(QWidget* parent, int width, const QString& icon, const QString& title,
                             QPushButton** closeButton);
// A filter box with "全部" first: kind 0 cameras, 1 detects, 2 areas.
ComboBox* makeRecordsFilterBox(QWidget* parent, int width, int kind);
// In the middle of the main window, which fills the panel.
QPoint recordsDialogPosition(const QSize& size);
// The query of the filter bar ("全部" is -1).
ResultQuery recordsBoxQuery(const ComboBox* camera, const ComboBox* detect, const ComboBox* area,
                            const FromTimeToTime* range);

// The export's questions: busy, no folder, confirmation. The folder chosen
// and confirmed, or empty when there is nothing to export to.
QString confirmedExportFolder(QWidget* dialog);
// Closes the date picker of the filter bar (and the rolling time picker).
void closeRecordsDatePicker(FromTimeToTime* range);
// A press in the dialog: every second one closes an open date picker.
void recordsDialogPressed(FromTimeToTime* range);
