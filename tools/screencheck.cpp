#include "screencheck.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegion>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

// Sizes that the screens' own design fixes below the touch size, with the
// reason: a widget of that class (and object name, where given) in a window
// of that class, at that size, passes. The one list of such exceptions.
struct SizeExemption {
    const char* windowClass;  // empty: any window
    const char* className;
    const char* objectName;   // empty: any
    int width;                // 0: any
    int height;               // 0: any
    const char* reason;
};

const SizeExemption kSizeExemptions[] = {
    {"DateTimeWidget", "_EditDateTime", "", 150, 30,
     "the range picker's date and time fields are 150 x 30 by design"},
    {"modifyTimeWidget", "_EditDateTime", "", 135, 30,
     "the clock dialog's date and time fields are 135 x 30 by design"},
    {"DateTimeWidget", "QPushButton", "cancelbtn", 20, 20,
     "the range picker's close button is 20 x 20 at its top right corner by design"},
    {"DateTimeWidget", "QPushButton", "", 0, 30, "the range picker's clear and confirm are 30 px high by design"},
    {"modifyTimeWidget", "QPushButton", "", 0, 30, "the clock dialog's clear and confirm are 30 px high by design"},
    {"_RollingTime", "QPushButton", "", 0, 30, "the time drum's confirm and cancel are 30 px high by design"},
};

bool exempt(const QWidget* w, const QSize& size)
{
    for (const SizeExemption& e : kSizeExemptions) {
        if (*e.windowClass && !w->window()->inherits(e.windowClass)) {
            continue;
        }
        if (!w->inherits(e.className)) {
            continue;
        }
        if (*e.objectName && w->objectName() != QLatin1String(e.objectName)) {
            continue;
        }
        if ((e.width == 0 || e.width == size.width()) && (e.height == 0 || e.height == size.height())) {
            return true;
        }
    }
    return false;
}

// Widgets that draw their caption themselves, not where their style would:
// where they draw it and in what font.
struct OwnCaption {
    const char* className;
    QRect place;
    const char* family;
    int pointSize;
};

const OwnCaption kOwnCaptions[] = {
    // The I/O lamp: its name under the lamp.
    {"IOWidget_Item", QRect(0, 40, 60, 20), "SimHei", 10},
};

const OwnCaption* ownCaption(const QWidget* w)
{
    for (const OwnCaption& c : kOwnCaptions) {
        if (w->inherits(c.className)) {
            return &c;
        }
    }
    return nullptr;
}

// What the operator reads on the widget, if it shows a text.
QString shownText(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        if (!label->pixmap(Qt::ReturnByValue).isNull() || label->movie()) {
            return QString();
        }
        return label->text();
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (auto* tool = qobject_cast<const QToolButton*>(w); tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly) {
            return QString();
        }
        return button->text();
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        return edit->text().isEmpty() ? edit->placeholderText() : edit->displayText();
    }
    if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        return combo->currentText();
    }
    return QString();
}

QString describe(const QWidget* w)
{
    QString out = QString::fromLatin1(w->metaObject()->className());
    if (!w->objectName().isEmpty()) {
        out += QLatin1Char('#') + w->objectName();
    }
    QString text = shownText(w).simplified();
    if (!text.isEmpty()) {
        if (text.size() > 40) {
            text = text.left(39) + QChar(0x2026);
        }
        out += QStringLiteral(" \"%1\"").arg(text);
    }
    // The nearest named ancestors say which screen it belongs to.
    QStringList chain;
    for (const QWidget* p = w->parentWidget(); p && chain.size() < 2; p = p->parentWidget()) {
        if (!p->objectName().isEmpty() && !p->objectName().startsWith(QLatin1String("qt_"))) {
            chain << QString::fromLatin1(p->metaObject()->className()) + QLatin1Char('#') + p->objectName();
        } else if (p->isWindow()) {
            chain << QString::fromLatin1(p->metaObject()->className());
        }
    }
    if (!chain.isEmpty()) {
        out += QStringLiteral(" in ") + chain.join(QStringLiteral(" in "));
    }
    return out;
}

struct TextPlace {
    QRect available;  // where the text may go, in the widget
    QSize needed;     // what the text takes
    Qt::Alignment alignment = Qt::AlignCenter;
    int lead = 0;     // an icon or indicator before the text
};

QSize plainTextSize(const QFont& font, const QString& text)
{
    return QFontMetrics(font).size(Qt::TextShowMnemonic, text);
}

bool isRichLabel(const QLabel* label)
{
    return label->textFormat() == Qt::RichText
           || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

bool placeText(const QWidget* w, const QString& text, TextPlace* place)
{
    QStyle* style = w->style();
    if (const OwnCaption* own = ownCaption(w)) {
        QFont font(QString::fromLatin1(own->family));
        font.setPointSize(own->pointSize);
        place->available = own->place;
        place->needed = plainTextSize(font, text);
        return true;
    }
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        const int m = label->margin();
        place->available = label->contentsRect().adjusted(m, m, -m, -m);
        place->alignment = label->alignment();
        if (isRichLabel(label)) {
            QTextDocument doc;
            doc.setDefaultFont(label->font());
            doc.setDocumentMargin(0);
            doc.setHtml(text);
            if (label->wordWrap()) {
                doc.setTextWidth(place->available.width());
            }
            place->needed = QSize(int(std::ceil(doc.idealWidth())), int(std::ceil(doc.size().height())));
        } else if (label->wordWrap()) {
            const QRect r = QFontMetrics(label->font())
                                .boundingRect(place->available, int(label->alignment()) | Qt::TextWordWrap, text);
            place->needed = r.size();
        } else {
            place->needed = plainTextSize(label->font(), text);
        }
        return true;
    }
    if (auto* push = qobject_cast<const QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(push);
        opt.text = push->text();
        opt.icon = push->icon();
        opt.iconSize = push->iconSize();
        if (push->isFlat()) {
            opt.features |= QStyleOptionButton::Flat;
        }
        place->available = style->subElementRect(QStyle::SE_PushButtonContents, &opt, push);
        place->needed = plainTextSize(push->font(), text);
        if (!push->icon().isNull()) {
            place->lead = push->iconSize().width() + 4;
            place->needed.rwidth() += place->lead;
            place->needed.setHeight(qMax(place->needed.height(), push->iconSize().height()));
        }
        return true;
    }
    if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
        auto* button = static_cast<const QAbstractButton*>(w);
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        opt.icon = button->icon();
        opt.iconSize = button->iconSize();
        const bool check = qobject_cast<const QCheckBox*>(w) != nullptr;
        place->available = style->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
                                                 &opt, button);
        place->alignment = Qt::AlignLeft | Qt::AlignVCenter;
        place->needed = plainTextSize(button->font(), text);
        return true;
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        place->available = button->contentsRect();
        place->needed = plainTextSize(button->font(), text);
        if (auto* tool = qobject_cast<const QToolButton*>(w);
            tool && tool->toolButtonStyle() == Qt::ToolButtonTextBesideIcon && !tool->icon().isNull()) {
            place->lead = tool->iconSize().width() + 4;
            place->needed.rwidth() += place->lead;
        }
        return true;
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
        const QMargins margins = edit->textMargins();
        // The line edit keeps 2 px on either side of its text.
        place->available = style->subElementRect(QStyle::SE_LineEditContents, &opt, edit)
                               .marginsRemoved(margins)
                               .adjusted(2, 0, -2, 0);
        place->alignment = edit->alignment();
        place->needed = plainTextSize(edit->font(), text);
        return true;
    }
    if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = combo->isEditable();
        opt.frame = combo->hasFrame();
        opt.currentText = combo->currentText();
        place->available = style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
        place->alignment = Qt::AlignLeft | Qt::AlignVCenter;
        place->needed = plainTextSize(combo->font(), text);
        return true;
    }
    return false;
}

bool isInteractive(const QWidget* w)
{
    const QWidget* parent = w->parentWidget();
    // The parts of a compound widget are checked as the whole.
    if (parent && (qobject_cast<const QComboBox*>(parent) || qobject_cast<const QAbstractSpinBox*>(parent))) {
        return false;
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        return !edit->isReadOnly();
    }
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w)
           || qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractSlider*>(w);
}

double luminance(QRgb c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

class Walker {
public:
    Walker(const QImage& picture, const QRect& screen)
        : picture_(picture)
        , screen_(screen)
    {
    }

    // covered: what the windows drawn over this one hide, in the picture.
    void walkWindow(QWidget* window, const QPoint& origin, const QRegion& covered)
    {
        origin_ = origin;
        covered_ = covered;
        visit(window, window, window->rect(), false);
    }

    QList<ScreenFinding> findings;

private:
    void add(ScreenFinding::Kind kind, const QWidget* w, const QString& detail)
    {
        findings.append(ScreenFinding{kind, describe(w), detail});
    }

    // clip: what the ancestors leave visible, in the window's coordinates.
    void visit(QWidget* w, QWidget* window, const QRect& clip, bool ancestorOff)
    {
        const QRect whole(w->mapTo(window, QPoint(0, 0)), w->size());
        const QRect visible = whole & clip;
        if (visible.isEmpty()) {
            return;
        }
        const QRect onPicture = visible.translated(origin_);
        if (QRegion(onPicture).subtracted(covered_).isEmpty()) {
            return;
        }
        const bool off = !screen_.contains(onPicture);
        if (off && !ancestorOff && screen_.intersects(onPicture)) {
            add(ScreenFinding::OffScreen, w,
                QStringLiteral("%1,%2 %3x%4 on a %5x%6 screen")
                    .arg(onPicture.x())
                    .arg(onPicture.y())
                    .arg(onPicture.width())
                    .arg(onPicture.height())
                    .arg(screen_.width())
                    .arg(screen_.height()));
        }
        checkSize(w, window, visible);
        checkText(w, window, visible);
        // A later sibling that paints (a panel laid over the tiles, a key pad
        // over a value box) hides what lies under it, as a window over
        // another does; a bare container without a background does not.
        QList<QWidget*> shown;
        for (QObject* child : w->children()) {
            auto* c = qobject_cast<QWidget*>(child);
            if (c && !c->isWindow() && c->isVisibleTo(window) && !c->isHidden()) {
                shown << c;
            }
        }
        const QRegion outer = covered_;
        for (int i = 0; i < shown.size(); ++i) {
            QRegion over;
            for (int j = i + 1; j < shown.size(); ++j) {
                QWidget* s = shown[j];
                if (s->testAttribute(Qt::WA_StyledBackground) || s->autoFillBackground()
                    || (s->metaObject() != &QWidget::staticMetaObject && s->metaObject() != &QFrame::staticMetaObject)) {
                    over += (QRect(s->mapTo(window, QPoint(0, 0)), s->size()) & visible).translated(origin_);
                }
            }
            covered_ = outer + over;
            visit(shown[i], window, visible, ancestorOff || off);
        }
        covered_ = outer;
    }

    void checkSize(QWidget* w, QWidget* window, const QRect& visible)
    {
        if (isInteractive(w)) {
            const QSize s = visible.size();
            if (qMin(s.width(), s.height()) < kMinTouchSize && !exempt(w, s)) {
                add(ScreenFinding::Size, w, QStringLiteral("%1x%2").arg(s.width()).arg(s.height()));
            }
        }
        if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < tabs->count(); ++i) {
                const QSize s = tabs->tabRect(i).size();
                if (tabs->isTabVisible(i) && qMin(s.width(), s.height()) < kMinTouchSize && !exempt(w, s)) {
                    add(ScreenFinding::Size, w,
                        QStringLiteral("tab \"%1\" %2x%3").arg(tabs->tabText(i)).arg(s.width()).arg(s.height()));
                }
            }
        }
        // Rows of a list the operator picks from.
        if (auto* view = qobject_cast<QAbstractItemView*>(w);
            view && view->selectionMode() != QAbstractItemView::NoSelection && view->isEnabled()) {
            // A row in the middle: the first may be a header the operator
            // does not pick (a calendar's weekday names).
            QModelIndex first = view->indexAt(view->viewport()->rect().center());
            if (!first.isValid()) {
                first = view->indexAt(QPoint(2, 2));
            }
            if (first.isValid()) {
                const QSize s = view->visualRect(first).size();
                if (qMin(s.width(), s.height()) < kMinTouchSize && !exempt(w, s)) {
                    add(ScreenFinding::Size, w, QStringLiteral("item %1x%2").arg(s.width()).arg(s.height()));
                }
            }
        }
        Q_UNUSED(window)
    }

    void checkText(QWidget* w, QWidget* window, const QRect& visible)
    {
        const QString text = shownText(w);
        if (text.trimmed().isEmpty()) {
            return;
        }
        TextPlace place;
        if (!placeText(w, text, &place)) {
            return;
        }
        // A text in a transparent colour is hidden on purpose.
        if (w->palette().color(w->foregroundRole()).alpha() == 0) {
            return;
        }
        // A caption the design elides ends in "…" (inside its markup, for a
        // rich text).
        const auto* label = qobject_cast<const QLabel*>(w);
        const QString plain =
            label && isRichLabel(label) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
        const bool elided = plain.trimmed().endsWith(QChar(0x2026));
        QRect textRect = QStyle::alignedRect(w->layoutDirection(), place.alignment,
                                             place.needed.boundedTo(place.available.size()), place.available);
        textRect.setLeft(textRect.left() + place.lead);
        const QRect textInWindow = textRect.translated(w->mapTo(window, QPoint(0, 0)));
        if (!elided
            && (place.needed.width() > place.available.width() + 1
                || place.needed.height() > place.available.height() + 1)) {
            add(ScreenFinding::Fit, w,
                QStringLiteral("needs %1x%2, has %3x%4")
                    .arg(place.needed.width())
                    .arg(place.needed.height())
                    .arg(place.available.width())
                    .arg(place.available.height()));
        } else if (!elided && !visible.adjusted(-1, -1, 1, 1).contains(textInWindow)) {
            // The widget runs past what holds it: its caption is cut there.
            const QRect shown = textInWindow & visible;
            add(ScreenFinding::Fit, w,
                QStringLiteral("cut by what holds it: %1x%2 of %3x%4 shown")
                    .arg(shown.width())
                    .arg(shown.height())
                    .arg(textInWindow.width())
                    .arg(textInWindow.height()));
        }
        const QRect inPicture = (textInWindow & visible).translated(origin_) & screen_ & picture_.rect();
        if (inPicture.width() < 2 || inPicture.height() < 2) {
            return;
        }
        if (covered_.intersects(inPicture)) {
            return;
        }
        double contrast = measuredTextContrast(picture_, inPicture);
        // A style sheet may put the caption elsewhere in its place (at the
        // bottom, under an icon): the whole place is measured before a fault
        // is said.
        if (contrast < kMinTextContrast) {
            const QRect wholePlace =
                (place.available.adjusted(place.lead, 0, 0, 0).translated(w->mapTo(window, QPoint(0, 0))) & visible)
                    .translated(origin_)
                & screen_ & picture_.rect();
            if (wholePlace.width() >= 2 && wholePlace.height() >= 2 && !covered_.intersects(wholePlace)) {
                contrast = qMax(contrast, measuredTextContrast(picture_, wholePlace));
            }
        }
        if (contrast < kMinTextContrast) {
            add(ScreenFinding::Contrast, w, QStringLiteral("%1 : 1").arg(contrast, 0, 'f', 2));
        }
    }

    const QImage& picture_;
    QRect screen_;
    QPoint origin_;
    QRegion covered_;
};

} // namespace

QString findingKindName(ScreenFinding::Kind kind)
{
    switch (kind) {
    case ScreenFinding::Fit:
        return QStringLiteral("fit");
    case ScreenFinding::Size:
        return QStringLiteral("size");
    case ScreenFinding::Contrast:
        return QStringLiteral("contrast");
    case ScreenFinding::OffScreen:
        return QStringLiteral("offscreen");
    }
    return QString();
}

double contrastRatio(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

double measuredTextContrast(const QImage& picture, const QRect& area)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const QRect r = area & image.rect();
    if (r.isEmpty()) {
        return 21.0;
    }
    QHash<QRgb, int> counts;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            ++counts[line[x] | 0xFF000000u];
        }
    }
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    // Ink: what stands out of the background. The edges of smoothed glyphs
    // are blends of the two; the glyphs' cores are the text's colour.
    std::vector<double> ink;
    double strongest = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double ratio = contrastRatio(it.key(), background);
        strongest = qMax(strongest, ratio);
        if (ratio >= 1.3) {
            ink.insert(ink.end(), std::size_t(it.value()), ratio);
        }
    }
    if (ink.size() < 4) {
        return strongest;
    }
    // Thin strokes have few full-colour pixels: the text's colour is that of
    // the strongest few, not of one or two stray ones.
    std::sort(ink.begin(), ink.end(), std::greater<double>());
    return ink[2];
}

QList<ScreenFinding> checkScreen(const QImage& picture, const QList<PlacedWindow>& windows, const QRect& screen)
{
    Walker walker(picture, screen);
    for (int i = 0; i < windows.size(); ++i) {
        const PlacedWindow& placed = windows[i];
        if (!placed.first || !placed.first->isVisible()) {
            continue;
        }
        QRegion covered;
        for (int j = i + 1; j < windows.size(); ++j) {
            if (windows[j].first && windows[j].first->isVisible()) {
                covered += QRect(windows[j].second, windows[j].first->size());
            }
        }
        walker.walkWindow(placed.first, placed.second, covered);
    }
    return walker.findings;
}
