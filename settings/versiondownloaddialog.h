#pragma once

#include "maintenancefolders.h"
#include "versionlibrary.h"

#include <QDialog>
#include <QStringList>
#include <QVector>

class ColorButton;
class QAbstractButton;
class QButtonGroup;
class QPushButton;

// The version library: the download server's versions as buttons, one
// column per folder, paged; a button fetches its version and leaves it, with
// a backup of the program, for the outside updater. The whole listing is
// loaded while the dialog is built.
class VersionDownloadDialog : public QDialog {
    Q_OBJECT
public:
    explicit VersionDownloadDialog(QWidget* parent, const MaintenanceFolders& folders = defaultMaintenanceFolders(),
                                   const QString& baseUrl = versionServerAddress(),
                                   const VersionLibraryLimits& limits = VersionLibraryLimits());
    ~VersionDownloadDialog() override;

    bool listFetched = true;
    QString currentUrl;
    QVector<QButtonGroup*> versionGroups;
    QStringList titleNames;
    QVector<int> currentPage;
    QVector<int> pageCount;
    QButtonGroup* prevButtons = nullptr;
    QButtonGroup* nextButtons = nullptr;
    ColorButton* exitButton = nullptr;

    // The version buttons one page of a column holds: seven, or the rows
    // that fit above the page buttons in the small dialog.
    int rowsPerPage() const;
    void showPage(int column);
    void hidePage(int column);
    void setButtonsEnabled(bool enabled);
    void onVersionChosen(QAbstractButton* button);
    bool downloadPackage(const QString& name, const QString& address);

    VersionLibrary* library() const { return m_library; }

public slots:
    void slotToLastPage(int id);
    void slotToNextPage(int id);
    void acceptDialog();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VersionLibrary* m_library = nullptr;
};

// The advanced page's "版本库": disables the button, builds the library and
// runs it, or tells that the network cannot be reached; the button comes back
// when the library was closed by its "退出".
void openVersionLibrary(QWidget* page, QPushButton* button, const MaintenanceFolders& folders = defaultMaintenanceFolders(),
                        const QString& baseUrl = versionServerAddress(),
                        const VersionLibraryLimits& limits = VersionLibraryLimits());
