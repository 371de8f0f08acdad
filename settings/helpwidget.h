#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;

// The help screen of area setting: every tool of the area panel with its
// icon, its caption as the panel shows it and what it does, in the current
// language. It lies over the camera tiles, left of the menu column, so the
// operator can read it beside the very buttons it explains.
class HelpWidget : public QWidget {
    Q_OBJECT
public:
    explicit HelpWidget(QWidget* parent = nullptr);

    // One tool of the panel: its object name there, its icon and the text
    // that explains it.
    struct Entry {
        const char* objectName;
        const char* icon;  // the choice boxes show their arrow
        int textId;
    };
    static const QList<Entry>& entries();
    // The tool's caption as the panel shows it in the current language.
    static QString toolName(const Entry& entry);

    QPushButton* closeButton = nullptr;
    QLabel* introLabel = nullptr;
    QScrollArea* scrollArea = nullptr;
    // Per entry, the caption and the explanation shown.
    QList<QLabel*> nameLabels;
    QList<QLabel*> textLabels;

public slots:
    // Fills the texts in the current language, covers the tiles and comes
    // to the front.
    void showHelp();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fillTexts();
};
