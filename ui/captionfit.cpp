#include "captionfit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <QVariant>

#include <climits>

namespace {

const char* const kPixelSize = "captionPx";
const char* const kNatural = "captionNaturalPx";
const char* const kFittedFor = "captionFittedFor";
const char* const kBaseSheet = "captionBaseSheet";
const char* const kOwnSheet = "captionOwnSheet";
const char* const kWatched = "captionWatched";
const char* const kRoot = "captionRoot";
const char* const kOriginal = "captionOriginal";
const char* const kWrapped = "captionWrapped";

bool isRichLabel(const QLabel* label)
{
    return label->textFormat() == Qt::RichText
           || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

// The caption fitted: plain texts of labels and buttons only.
QString captionOf(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        if (isRichLabel(label) || !label->pixmap(Qt::ReturnByValue).isNull()) {
            return QString();
        }
        return label->text();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return button->text();
    }
    return QString();
}

// Where the caption goes, and what stands before it on the same line.
QRect placeOf(QWidget* w, int* lead)
{
    *lead = 0;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const int m = label->margin();
        return label->contentsRect().adjusted(m, m, -m, -m);
    }
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!button) {
        return w->contentsRect();
    }
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = button->text();
    opt.icon = button->icon();
    opt.iconSize = button->iconSize();
    if (qobject_cast<QCheckBox*>(w)) {
        return w->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, w);
    }
    if (qobject_cast<QRadioButton*>(w)) {
        return w->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, w);
    }
    if (!button->icon().isNull()) {
        *lead = button->iconSize().width() + 4;
    }
    if (qobject_cast<QPushButton*>(w)) {
        return w->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, w);
    }
    return w->contentsRect();
}

int pixelSizeOf(const QWidget* w)
{
    const QFont f = w->font();
    return f.pixelSize() > 0 ? f.pixelSize() : qRound(f.pointSizeF() * w->logicalDpiY() / 72.0);
}

bool fitsAt(QWidget* w, const QString& text, int px, bool wrap)
{
    int lead = 0;
    const QRect place = placeOf(w, &lead);
    QFont f = w->font();
    f.setPixelSize(px);
    const QFontMetrics fm(f);
    if (wrap) {
        const QRect r = fm.boundingRect(QRect(0, 0, place.width(), 100000), Qt::TextWordWrap, text);
        return r.width() <= place.width() && r.height() <= place.height();
    }
    const QSize s = fm.size(Qt::TextShowMnemonic, text);
    return s.width() + lead <= place.width() && s.height() <= place.height();
}

// Gives w the pixel size px in its own sheet (0: the sheets' own size again).
void setOverride(QWidget* w, int px)
{
    const int current = w->property(kPixelSize).toInt();
    if (current == px) {
        return;
    }
    // A sheet set on the widget since our last one is its new base.
    QString base = w->property(kBaseSheet).toString();
    if (w->styleSheet() != w->property(kOwnSheet).toString()) {
        base = w->styleSheet();
        w->setProperty(kBaseSheet, base);
    }
    QString sheet = base;
    if (px > 0) {
        // A sheet of declarations alone cannot take a rule after it.
        if (!sheet.trimmed().isEmpty() && !sheet.contains(QLatin1Char('{'))) {
            sheet = QStringLiteral("*{") + sheet + QStringLiteral("}");
        }
        sheet += QStringLiteral("*[%1=\"%2\"]{font-size:%2px;}").arg(QLatin1String(kPixelSize)).arg(px);
    }
    w->setProperty(kPixelSize, px);
    w->setProperty(kOwnSheet, sheet);
    w->setStyleSheet(sheet);
}

// text on two lines, split at the space that keeps the longer line
// shortest, when both fit w's place at px; else empty.
QString twoLines(QWidget* w, const QString& text, int px)
{
    int lead = 0;
    const QRect place = placeOf(w, &lead);
    QFont f = w->font();
    f.setPixelSize(px);
    const QFontMetrics fm(f);
    if (2 * fm.lineSpacing() > place.height()) {
        return QString();
    }
    QString best;
    int bestWidth = INT_MAX;
    for (int i = text.indexOf(QLatin1Char(' ')); i >= 0; i = text.indexOf(QLatin1Char(' '), i + 1)) {
        const QString first = text.left(i).trimmed();
        const QString second = text.mid(i + 1).trimmed();
        const int widest = qMax(fm.horizontalAdvance(first), fm.horizontalAdvance(second));
        if (widest < bestWidth) {
            bestWidth = widest;
            best = first + QLatin1Char('\n') + second;
        }
    }
    return bestWidth + lead <= place.width() ? best : QString();
}

CaptionFit* gFitter = nullptr;

} // namespace

void CaptionFit::watch(QWidget* w)
{
    if (!w || w->property(kWatched).toBool()) {
        return;
    }
    if (!gFitter) {
        gFitter = new CaptionFit(QCoreApplication::instance());
        connect(gFitter, &QObject::destroyed, [] { gFitter = nullptr; });
    }
    w->setProperty(kWatched, true);
    w->installEventFilter(gFitter);
}

void CaptionFit::exclude(QWidget* w)
{
    if (w) {
        w->removeEventFilter(gFitter);
        w->setProperty(kWatched, true);
    }
}

void CaptionFit::watchAll(QWidget* root)
{
    if (!root) {
        return;
    }
    // Widgets added to the screen after its sheet was set are taken in when
    // it is shown, or when they are polished under it.
    if (!root->property(kRoot).toBool()) {
        watch(root);
        root->setProperty(kRoot, true);
    }
    if (qobject_cast<QLabel*>(root) || qobject_cast<QAbstractButton*>(root)) {
        watch(root);
    }
    for (QLabel* label : root->findChildren<QLabel*>()) {
        watch(label);
    }
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        watch(button);
    }
}

int CaptionFit::fittingPixelSize(QWidget* w, int natural)
{
    const QString text = captionOf(w);
    for (int px = natural; px >= MinPixelSize; --px) {
        if (fitsAt(w, text, px, false)) {
            return px;
        }
    }
    return 0;
}

void CaptionFit::fit(QWidget* w)
{
    // Before it is shown a widget has no size of its own yet (its layout
    // gives it one on showing): a caption fitted to that would stay small.
    if (!w->isVisible()) {
        return;
    }
    // A caption we broke onto two lines is fitted again from its own words.
    if (w->property(kWrapped).isValid() && captionOf(w) == w->property(kWrapped).toString()) {
        auto* button = static_cast<QAbstractButton*>(w);
        const QString original = w->property(kOriginal).toString();
        const QString key = original + QLatin1Char('\x1f') + QString::number(w->width()) + QLatin1Char('x')
                            + QString::number(w->height());
        if (w->property(kFittedFor).toString() == key) {
            return;
        }
        w->setProperty(kWrapped, QVariant());
        button->setText(original);
    }
    const QString text = captionOf(w);
    const QString key = text + QLatin1Char('\x1f') + QString::number(w->width()) + QLatin1Char('x')
                        + QString::number(w->height());
    if (w->property(kFittedFor).toString() == key) {
        return;
    }
    w->setProperty(kFittedFor, key);
    if (text.trimmed().isEmpty()) {
        return;
    }
    w->ensurePolished();
    if (!w->property(kNatural).isValid() || w->property(kPixelSize).toInt() == 0) {
        w->setProperty(kNatural, pixelSizeOf(w));
    }
    const int natural = w->property(kNatural).toInt();
    if (natural <= MinPixelSize) {
        return;
    }
    int px = fittingPixelSize(w, natural);
    auto* label = qobject_cast<QLabel*>(w);
    if (px == 0 && label) {
        // Too wide on one line even small: wrapped, at the largest size whose
        // lines fit the label's height.
        label->setWordWrap(true);
        px = MinPixelSize;
        for (int p = natural; p > MinPixelSize; --p) {
            if (fitsAt(w, text, p, true)) {
                px = p;
                break;
            }
        }
    } else if (px == 0) {
        px = MinPixelSize;
        // A button's caption of several words goes onto two lines.
        if (auto* button = qobject_cast<QPushButton*>(w); button && text.contains(QLatin1Char(' '))) {
            for (int p = natural; p >= MinPixelSize; --p) {
                const QString two = twoLines(w, text, p);
                if (!two.isEmpty()) {
                    px = p;
                    button->setProperty(kOriginal, text);
                    button->setProperty(kWrapped, two);
                    button->setText(two);
                    break;
                }
            }
        }
    }
    setOverride(w, px == natural ? 0 : px);
    w->setProperty(kFittedFor, key);
}

bool CaptionFit::eventFilter(QObject* watched, QEvent* event)
{
    if ((event->type() == QEvent::Show || event->type() == QEvent::ChildPolished)
        && watched->property(kRoot).toBool()) {
        watchAll(static_cast<QWidget*>(watched));
    }
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Resize:
    case QEvent::Paint:
        if (watched->isWidgetType()) {
            fit(static_cast<QWidget*>(watched));
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
