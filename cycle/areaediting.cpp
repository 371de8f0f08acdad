#include "areaediting.h"

#include "areapanellogic.h"
#include "cameraregistry.h"
#include "camerastation.h"
#include "cammersingleton.h"
#include "detectalgorithm.h"
#include "operationlog.h"
#include "systemparam.h"
#include "texttable.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <iterator>

using namespace AreaPanelLogic;

namespace {

SystemParam& params()
{
    static SystemParam empty{};
    return gpSystemParam ? *gpSystemParam : empty;
}

// The cavity detects take over the product detects' areas when the cavity
// follows the product: on a single-colour machine only with its product
// detect on, on the two-colour and the other machine always.
bool cavityFollows(const SystemParam& p)
{
    const int type = p.systemFunction();
    return p.syncCavityParams() != 0 && ((type == 0 && p[119] != 0) || type == 1 || type == 2);
}

bool differs(const CameraStation& st)
{
    return st.pLiveSingleton && st.pEditSingleton && !st.pLiveSingleton->IsSame(*st.pEditSingleton);
}

} // namespace

AreaEditing::AreaEditing(OperationLog* log, UserLevel userLevel) : m_log(log), m_userLevel(std::move(userLevel)) {}

bool AreaEditing::CommitResult::anyFailed() const
{
    return std::any_of(cameras.begin(), cameras.end(), [](const CameraCommit& c) { return !c.saved; });
}

QList<int> AreaEditing::CommitResult::failedCameras() const
{
    QList<int> failed;
    for (const CameraCommit& c : cameras) {
        if (!c.saved) {
            failed.append(c.camera);
        }
    }
    return failed;
}

void AreaEditing::log(const QString& row)
{
    if (m_log) {
        m_log->insertRecord(row, m_userLevel ? m_userLevel() : 0);
    }
}

void AreaEditing::log(const QStringList& rows)
{
    if (m_log) {
        m_log->insertRecords(rows, m_userLevel ? m_userLevel() : 0);
    }
}

bool AreaEditing::hasChanges(const Stations& stations)
{
    for (int c = 0; c < gCameraCount && c < int(stations.size()); ++c) {
        if (stations[std::size_t(c)] && differs(*stations[std::size_t(c)])) {
            return true;
        }
    }
    return false;
}

AreaEditing::CommitResult AreaEditing::commit(const Stations& stations)
{
    CommitResult result;
    for (int c = 0; c < gCameraCount && c < int(stations.size()); ++c) {
        CameraStation* st = stations[std::size_t(c)];
        if (!st || !differs(*st)) {
            continue;
        }
        result.cameras.push_back(commitCamera(*st, c));
    }
    return result;
}

AreaEditing::CameraCommit AreaEditing::commitCamera(CameraStation& st, int camera)
{
    CameraCommit out;
    out.camera = camera;
    if (!differs(st)) {
        return out;
    }
    const SystemParam& p = params();
    const int type = p.systemFunction();
    const bool follow = cavityFollows(p);
    bool positionTouched = false;
    const QStringList rows =
        areaChangeRows(*st.pLiveSingleton, *st.pEditSingleton, camera, type, gDetectCount, &positionTouched);
    // Kept to put back when the store fails: the inspection must go on with
    // what PARAM.db holds, and the operator's edits stay.
    CammerSingleton liveBefore(st.pLiveSingleton->camera);
    liveBefore.CopyFrom(*st.pLiveSingleton);
    CammerSingleton editBefore(st.pEditSingleton->camera);
    editBefore.CopyFrom(*st.pEditSingleton);
    std::vector<cv::Mat> liveMasks(std::begin(st.data.roiMasks), std::end(st.data.roiMasks));
    std::vector<cv::Mat> editMasks(std::begin(st.data.editRoiMasks), std::end(st.data.editRoiMasks));

    st.pLiveSingleton->CopyFrom(*st.pEditSingleton);
    st.CopyMaskToLive();
    if (follow) {
        st.CopyPara();
        st.pEditSingleton->CopyFrom(*st.pLiveSingleton);
        st.CopyMaskToEdit();
    }
    if (!st.pLiveSingleton->SaveToDB()) {
        st.pLiveSingleton->CopyFrom(liveBefore);
        st.pEditSingleton->CopyFrom(editBefore);
        std::copy(liveMasks.begin(), liveMasks.end(), std::begin(st.data.roiMasks));
        std::copy(editMasks.begin(), editMasks.end(), std::begin(st.data.editRoiMasks));
        out.failure = textOf(TextAreasNotSaved).arg(camera + 1);
        out.rows = QStringList{out.failure};
        log(out.failure);
        return out;
    }
    out.saved = true;
    out.rows = rows;
    log(rows);
    // The ignored pixels follow the areas only now that they are stored.
    for (int d = 0; d < std::min(gDetectCount, int(StationData::DetectCount)); ++d) {
        if (!st.editIgnoreMasks[d].empty()) {
            st.CommitIgnoreMask(d);
        }
    }
    markForRetraining(camera);
    if (positionTouched && st.pDetector) {
        for (int d = 0; d < gDetectCount; ++d) {
            if (p[119 + d] != 0) {
                st.pDetector->TrainAlign(d);
                st.pDetector->TrainLocate(d);
            }
        }
    }
    return out;
}

bool AreaEditing::storeCavityCopy(CameraStation& st)
{
    st.CopyPara();
    return st.pLiveSingleton && st.pLiveSingleton->SaveToDB();
}

void AreaEditing::markForRetraining(int camera)
{
    if (camera >= 0 && camera < MaxCameras) {
        m_retrainPending[camera] = true;
    }
}

bool AreaEditing::retrainingPending(int camera) const
{
    return camera >= 0 && camera < MaxCameras && m_retrainPending[camera];
}

void AreaEditing::runPendingRetraining(const Stations& stations)
{
    const SystemParam& p = params();
    for (int c = 0; c < gCameraCount && c < MaxCameras; ++c) {
        if (!m_retrainPending[c]) {
            continue;
        }
        m_retrainPending[c] = false;
        CameraStation* st = c < int(stations.size()) ? stations[std::size_t(c)] : nullptr;
        for (int d = 0; d < gDetectCount; ++d) {
            if (p[119 + d] != 0 && st && st->pDetector) {
                st->pDetector->TrainModels(d);
            }
        }
    }
}

bool AreaEditing::deleteArea(CameraStation& st, int area)
{
    int before = 0;
    for (int d = 0; d < StationData::DetectCount; ++d) {
        before += st.pEditSingleton->roiCount[d];
    }
    st.DeleteROI(area);
    st.selectedRoi = -1;
    int after = 0;
    for (int d = 0; d < StationData::DetectCount; ++d) {
        after += st.pEditSingleton->roiCount[d];
    }
    return after < before;
}

void AreaEditing::deleteAllAreas(CameraStation& st, int d)
{
    if (d < 0 || d >= StationData::DetectCount) {
        return;
    }
    clearROIList(st.pEditSingleton->roiLists[d]);
    st.pEditSingleton->roiCount[d] = 0;
    st.selectedRoi = -1;
    // The edit picture only: the ignored pixels and their file change with a
    // confirmed save, so a declined save brings them back too.
    st.editIgnoreMasks[d].assign(st.data.ignoreMasks[d].size(), 0);
}

AreaEditing::TemplateResult AreaEditing::addTemplate(CameraStation& st, int camera, int t, const uchar* source,
                                                     bool retrainNow)
{
    TemplateResult out;
    if (t < 0 || t >= StationData::DetectCount) {
        return out;
    }
    const SlotChoice choice = chooseAddSlot(st.data.templateValid[t], st.data.templateCount[t], gTemplateCount, st.folder(t));
    if (choice.slot < 0) {
        return out;
    }
    out.slot = choice.slot;
    if (!choice.removeFile.isEmpty()) {
        QFile::remove(choice.removeFile);
    }
    if (!st.StoreTemplate(t, choice.slot, source)) {
        // Nothing stored: the slot stays free, and the log is told rather
        // than a sample being claimed.
        out.outcome = TemplateOutcome::NotStored;
        out.failure = textOf(TextTemplateNotSaved);
        log(out.failure);
        return out;
    }
    out.outcome = TemplateOutcome::Stored;
    log(textOf(109).arg(camera + 1));
    if (retrainNow) {
        if (st.pDetector) {
            st.pDetector->TrainModels(t);
        }
    } else {
        markForRetraining(camera);
    }
    return out;
}

bool AreaEditing::deleteTemplate(CameraStation& st, int camera, int d, int slot)
{
    if (slot <= 0 || d < 0 || d >= StationData::DetectCount) {
        return false;
    }
    st.RemoveTemplate(d, slot);
    markForRetraining(camera);
    log(textOf(70).arg(camera + 1).arg(slot + 1));
    return true;
}

void AreaEditing::deleteAllTemplates(const Stations& stations)
{
    for (int c = 0; c < gCameraCount && c < int(stations.size()); ++c) {
        CameraStation* st = stations[std::size_t(c)];
        if (!st) {
            continue;
        }
        for (int d = 0; d < gDetectCount && d < StationData::DetectCount; ++d) {
            for (int k = 1; k < gTemplateCount && std::size_t(k) < st->data.templateValid[d].size(); ++k) {
                if (st->data.templateValid[d][std::size_t(k)]) {
                    st->data.freeTemplate(d, k);
                }
            }
            st->data.templateCount[d] = 1;
            st->data.curTemplate = 0;
            const QDir dir(st->folder(d));
            for (const QString& name : dir.entryList({QStringLiteral("template*")}, QDir::Files)) {
                QFile::remove(dir.filePath(name));
            }
        }
        markForRetraining(c);
    }
    log(textOf(71));
}
