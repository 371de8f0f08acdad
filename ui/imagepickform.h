#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QLabel;
class QListView;

class imageInfoListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit imageInfoListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void setEntries(const QStringList& entries);
    const QStringList& entries() const { return m_entries; }

private:
    QStringList m_entries;
};

// The chooser of the image browser: picture source, camera and detect.
class ImagePickForm_Source : public QWidget {
    Q_OBJECT
public:
    explicit ImagePickForm_Source(QWidget* parent = nullptr);

    int source = 0;
    int camera = 0;
    int detect = 0;
};

// The list of pictures of the image browser.
class ImagePickForm_List : public QWidget {
    Q_OBJECT
public:
    explicit ImagePickForm_List(QWidget* parent = nullptr);

    QListView* view() const { return m_view; }
    imageInfoListModel* model() const { return m_model; }

private:
    QListView* m_view;
    imageInfoListModel* m_model;
};

// The floating panel that chooses what the camera views show while areas are
// set or an alarm is reviewed. It only chooses: the area panel, connected to
// its signals, loads the pictures.
class ImagePickForm : public QWidget {
    Q_OBJECT
public:
    explicit ImagePickForm(QWidget* parent = nullptr);

    void selectSource(int index);
    void selectCamera(int index);
    void selectDetect(int index);

    ImagePickForm_Source* chooser() const { return m_source; }
    ImagePickForm_List* list() const { return m_list; }

    // The entries of a source's list from the folders in the working folder.
    static QStringList listFor(int source, int templateCamera, int templateDetect, int recordCamera, int recordDetect);

signals:
    void sourceChange(int source);
    void cameraChange(int camera);
    void detectChange(int detect);
    void imageChange(int row);

private:
    void choose(QButtonGroup* group, int id);
    void select(const char* groupName, int index);
    void rebuildList();
    // What a touch on the list picks: a template's number, else the row.
    int pickedImage(const QModelIndex& index) const;
    void onSource(int id);

    ImagePickForm_Source* m_source;
    ImagePickForm_List* m_list;
    QLabel* m_detectLabel = nullptr;
};
