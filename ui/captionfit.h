#pragma once

#include <QObject>

class QWidget;

// Keeps the captions of labels, buttons and check boxes inside their widgets
// in every language. The screens' sizes are fixed for the Chinese captions;
// a longer English or Japanese caption is drawn smaller, down to
// CaptionFit::MinPixelSize, and a label's caption that is still too wide
// wraps onto more lines where its height allows. A caption is never cut.
// The size goes into the widget's own style sheet (which the style sheets of
// its parents cannot override), keyed by the dynamic property "captionPx".
class CaptionFit : public QObject {
    Q_OBJECT
public:
    enum { MinPixelSize = 14 };

    // Fits w's caption now and again whenever it is shown, resized or about
    // to be painted with another caption.
    static void watch(QWidget* w);
    // Leaves w alone: a widget that draws its caption itself, elsewhere and
    // in another font than its style would.
    static void exclude(QWidget* w);
    // watch() for every label and button under root (root included).
    static void watchAll(QWidget* root);
    // The largest pixel size, from natural down to MinPixelSize, at which
    // w's caption fits its place; natural when it fits as it is, 0 when
    // even the smallest does not.
    static int fittingPixelSize(QWidget* w, int natural);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit CaptionFit(QObject* parent)
        : QObject(parent)
    {
    }
    static void fit(QWidget* w);
};
