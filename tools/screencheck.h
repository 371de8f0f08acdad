// The operator's check of a screen as the tours draw it: every caption fits
// its widget, every widget a finger taps is at least 40 px across, every text
// stands out from what lies under it in the drawn picture (4.5 : 1), and no
// widget hangs partly off the screen.
#pragma once

#include <QImage>
#include <QList>
#include <QPair>
#include <QPoint>
#include <QRect>
#include <QString>

class QWidget;

struct ScreenFinding {
    enum Kind { Fit, Size, Contrast, OffScreen };
    Kind kind = Fit;
    QString widget;  // class, object name and text of the widget
    QString detail;
};

QString findingKindName(ScreenFinding::Kind kind);

// The smallest a touched widget may be, across.
constexpr int kMinTouchSize = 40;
// The least contrast of a text with its background.
constexpr double kMinTextContrast = 4.5;

// WCAG's contrast ratio of two colours (1 to 21).
double contrastRatio(QRgb a, QRgb b);

// The contrast of the text drawn inside area of picture: its ink against the
// commonest colour there (the background). Where nothing stands out of the
// background (text in the background's colour), the most any pixel there
// differs from it.
double measuredTextContrast(const QImage& picture, const QRect& area);

// A top-level window and where it stands in the picture (and on the screen).
using PlacedWindow = QPair<QWidget*, QPoint>;

// Checks every visible widget of the windows drawn into picture, the screen
// being screen (in the picture's coordinates).
QList<ScreenFinding> checkScreen(const QImage& picture, const QList<PlacedWindow>& windows, const QRect& screen);
