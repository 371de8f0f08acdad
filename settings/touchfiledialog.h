#pragma once

class QFileDialog;

// Qt's own file dialog sized for a finger and dressed in the kit's look:
// large list rows and icons, one touch opens a folder, wide scroll bars,
// buttons and fields of at least 50 px, dark page with white text. It keeps
// every function of the dialog; call it after the dialog's options are set.
void fitFileDialogForTouch(QFileDialog* dialog);
