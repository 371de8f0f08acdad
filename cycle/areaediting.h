#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class CameraStation;
class OperationLog;

// The area editor's transactions on the camera stations, below the screens:
// an edit set made live and stored in PARAM.db, areas taken out of the edit
// set, template samples added and removed. Each writes its rows to the
// operation log itself and hands back what happened as a value; the panel
// above asks the operator first and shows the outcome.
//
// Retraining of the models after a change is collected per camera and run by
// runPendingRetraining, so that several changes cost one training.
class AreaEditing {
public:
    // Stations by camera number; a null entry is a camera without a station.
    using Stations = std::vector<CameraStation*>;
    // The user level the rows are written under, read at each write.
    using UserLevel = std::function<int()>;

    // log may be null (nothing is logged then).
    AreaEditing(OperationLog* log, UserLevel userLevel);

    AreaEditing(const AreaEditing&) = delete;
    AreaEditing& operator=(const AreaEditing&) = delete;

    // The outcome of one camera's commit.
    struct CameraCommit {
        int camera = -1;
        bool saved = false;
        // The change-log rows written (saved) or the row written for the
        // failure (not saved).
        QStringList rows;
        QString failure;
    };
    struct CommitResult {
        // One entry per camera whose edit differed, in camera order.
        std::vector<CameraCommit> cameras;
        bool anyFailed() const;
        QList<int> failedCameras() const;
    };

    // Whether any station's edit set differs from its live set.
    static bool hasChanges(const Stations& stations);

    // The edit sets of all cameras whose edit differs made live and stored,
    // camera by camera (see commitCamera).
    CommitResult commit(const Stations& stations);
    // One camera's edit made live: the change-log rows are taken against the
    // live set, the edit set copied over it with its masks and, when the
    // cavity detects follow the product detects, the copy made and brought
    // back into the edit set; then the live set is written to PARAM.db.
    // When that fails, live set, edit set and both masks are put back as they
    // were (the inspection goes on with what PARAM.db holds, the operator's
    // edits stay) and the failure row is logged. When it succeeds the rows
    // are logged, the ignore masks committed, the positions retrained when
    // an area of one moved and the models marked for retraining. An edit
    // equal to the live set is left alone (saved false, no rows).
    CameraCommit commitCamera(CameraStation& station, int camera);

    // The settings' apply when the cavity detects start following the product
    // detects: the live set takes the copy and is stored, with no rows (the
    // settings log their own sentence) and no retraining (theirs too). False
    // when the store failed; the set has warned the operator then.
    static bool storeCavityCopy(CameraStation& station);

    // Retrains the models of every enabled detect of the cameras marked so
    // far, and clears the marks.
    void runPendingRetraining(const Stations& stations);
    void markForRetraining(int camera);
    bool retrainingPending(int camera) const;

    // Takes the area out of the station's edit set and clears the selection;
    // false when there was no such area.
    bool deleteArea(CameraStation& station, int area);
    // Empties the detect's edit set and its edit picture of ignored pixels;
    // the live picture and its file change with a confirmed save only.
    void deleteAllAreas(CameraStation& station, int detect);

    enum class TemplateOutcome { NoSlot, NotStored, Stored };
    struct TemplateResult {
        TemplateOutcome outcome = TemplateOutcome::NoSlot;
        int slot = -1;
        // The row written for the failure (NotStored).
        QString failure;
    };
    // Stores the frame at source as a further sample of the detect, in the
    // slot the library offers (a file left over from a larger library is
    // removed first). The models are retrained at once when retrainNow,
    // else marked for retraining.
    TemplateResult addTemplate(CameraStation& station, int camera, int detect, const uchar* source, bool retrainNow);
    // Frees sample slot of the detect (never sample 0) and marks the camera
    // for retraining; false when nothing was removed.
    bool deleteTemplate(CameraStation& station, int camera, int detect, int slot);
    // Frees every sample but sample 0 of every detect of every station and
    // removes their files.
    void deleteAllTemplates(const Stations& stations);

    // A row of the panel's other commands (an alarm lifted by hand) written
    // to the operation log, under the same user level as the rows above.
    void log(const QString& row);

private:
    void log(const QStringList& rows);

    OperationLog* m_log;
    UserLevel m_userLevel;
    // Cameras whose models wait for retraining (the panel knows eight).
    static constexpr int MaxCameras = 8;
    bool m_retrainPending[MaxCameras] = {};
};
