#include "cammersingleton.h"

#include "clustomrect.h"
#include "operatorprompt.h"
#include "paramstorage.h"
#include "repolygon.h"
#include "roiinterface.h"
#include "systemparam.h"
#include "texttable.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTextStream>
#include <QVariant>

const QString CammerSingleton::ParamConnection = QString::fromLatin1(kParamConnectionName);

namespace {

enum class RowState { Found, Missing, Failed };

// Text table numbers of the function names outside Simplified Chinese; the
// Chinese names are the result table's own captions.
struct FunctionName {
    const char* chinese;
    int textId;
};

const FunctionName kFunctionNames[] = {
    {"缺陷检测", 25},  {"斑点检测", 15}, {"忽略区域", 17}, {"目标定位", 21},
    {"黑斑面积", 392}, {"白斑面积", 393}, {"相似度", 398},  {"白斑个数", 521},
    {"缺陷检测", 25},  {"温度报警", 570}, {"角度矫正", 583}, {"缺陷检测", 25},
};

QString numbers(std::initializer_list<qint32> values)
{
    QString text;
    for (qint32 v : values) {
        if (!text.isEmpty()) {
            text += QLatin1Char(' ');
        }
        text += QString::number(v);
    }
    return text;
}

// The integers at the head of a row, read as the rows were written: signed
// decimal separated by blanks.
struct RowReader {
    explicit RowReader(const QString& value) : text(value), stream(&text, QIODevice::ReadOnly)
    {
        stream.setIntegerBase(10);
    }
    qint32 next()
    {
        int v = 0;
        stream >> v;
        return v;
    }
    bool ok() const { return stream.status() == QTextStream::Ok; }
    bool corrupt() const { return stream.status() == QTextStream::ReadCorruptData; }

    QString text;
    QTextStream stream;
};

// The rows of one camera's table, read and added by name.
class AreaTable {
public:
    AreaTable(QSqlDatabase db, const QString& table)
        : m_db(std::move(db))
        , m_table(table)
        , m_select(QStringLiteral("select value from %1 where name=:name").arg(table))
    {
    }

    RowState select(const QString& name, QString* value, QString* error) const
    {
        QSqlQuery query(m_db);
        if (!query.prepare(m_select)) {
            *error = query.lastError().text();
            return RowState::Failed;
        }
        query.bindValue(QStringLiteral(":name"), name);
        if (!query.exec()) {
            *error = query.lastError().text();
            return RowState::Failed;
        }
        if (!query.next()) {
            return RowState::Missing;
        }
        *value = query.value(0).toString();
        return RowState::Found;
    }

    bool insert(const QString& name, const QString& value, QString* error)
    {
        QSqlQuery query(m_db);
        query.prepare(QStringLiteral("insert into %1 values(:name, :value)").arg(m_table));
        query.bindValue(QStringLiteral(":name"), name);
        query.bindValue(QStringLiteral(":value"), value);
        if (!query.exec()) {
            *error = query.lastError().text();
            return false;
        }
        return true;
    }

    const QString& table() const { return m_table; }

private:
    QSqlDatabase m_db;
    QString m_table;
    QString m_select;
};

// A detect row "detect<d>": the number of areas and the eight extras. A row
// holding only the count is normal; the extras then read as 0.
struct DetectRow {
    int count = 0;
    qint32 extra[CammerSingleton::ExtraCount] = {};
    // The count cannot be trusted: the detect loads without areas.
    bool fault = false;
    QStringList problems;
};

DetectRow readDetectRow(AreaTable& rows, int d)
{
    DetectRow detect;
    const QString name = QStringLiteral("detect%1").arg(d);
    QString value;
    QString error;
    switch (rows.select(name, &value, &error)) {
    case RowState::Failed:
        detect.problems << QStringLiteral("%1 unreadable (%2)").arg(name, error);
        detect.fault = true;
        break;
    case RowState::Missing:
        // A detect that never had areas; its row is added for the next save.
        if (!rows.insert(name, QStringLiteral("0"), &error)) {
            qWarning().noquote() << QStringLiteral("%1: cannot add %2 (%3)").arg(rows.table(), name, error);
        }
        break;
    case RowState::Found: {
        RowReader row(value);
        detect.count = row.next();
        if (!row.ok()) {
            detect.problems << QStringLiteral("%1 holds no area count: '%2'").arg(name, value.left(80));
            detect.fault = true;
            detect.count = 0;
            break;
        }
        for (qint32& extra : detect.extra) {
            extra = row.next();
        }
        if (row.corrupt()) {
            detect.problems << QStringLiteral("%1 holds text among its numbers: '%2'").arg(name, value.left(80));
        }
        break;
    }
    }
    if (detect.count < 0 || detect.count > CammerSingleton::AreasPerDetect) {
        detect.problems << QStringLiteral("%1 names %2 areas").arg(name).arg(detect.count);
        detect.fault = true;
        detect.count = 0;
    }
    return detect;
}

// An area row "ROI<d>-<m>": "param lower upper function shape-type output
// point-count" followed by the shape's own numbers.
struct AreaRow {
    qint32 param = 0;
    qint32 lower = 0;
    qint32 upper = 0;
    qint32 function = 0;
    qint32 shapeType = 0;
    qint32 output = 0;
};

// The shape of a stored area with its settings in area, or null with the
// reason in problem when the row cannot be trusted.
ROIInterface* readAreaRow(AreaTable& rows, const QString& name, const QJsonObject& sizeHint, AreaRow* area,
                          QString* problem)
{
    QString value;
    QString error;
    const RowState state = rows.select(name, &value, &error);
    if (state == RowState::Failed) {
        *problem = QStringLiteral("unreadable (%1)").arg(error);
        return nullptr;
    }
    if (state == RowState::Missing) {
        *problem = QStringLiteral("missing");
        return nullptr;
    }
    RowReader row(value);
    area->param = row.next();
    area->lower = row.next();
    area->upper = row.next();
    area->function = row.next();
    area->shapeType = row.next();
    area->output = row.next();
    const qint32 pointCount = row.next();
    if (!row.ok()) {
        *problem = QStringLiteral("cut short or not numeric: '%1'").arg(value.left(80));
        return nullptr;
    }
    if (area->shapeType == ROIPolygon && !RePolygon::isValidPointCount(pointCount)) {
        *problem = QStringLiteral("names %1 polygon vertices").arg(pointCount);
        return nullptr;
    }
    ROIInterface* shape = createROI(area->shapeType);
    QJsonObject hint = sizeHint;
    hint.insert(QStringLiteral("pointCount"), pointCount);
    shape->fromText(row.stream, hint);
    if (!row.ok()) {
        *problem = QStringLiteral("shape record cut short or not numeric: '%1'").arg(value.left(80));
        delete shape;
        return nullptr;
    }
    shape->updateBounds();
    return shape;
}

// Writes the rows of one camera's table inside the caller's transaction. The
// first failure stops every later statement and is kept in failure.
class TableWriter {
public:
    TableWriter(QSqlDatabase db, const QString& table)
        : m_db(std::move(db))
        , m_table(table)
    {
    }

    void createTable()
    {
        QSqlQuery query(m_db);
        run(query, QStringLiteral("create table if not exists %1 (name text, value text)").arg(m_table), {});
    }
    // Updates the row, adding it when the update found none.
    void updateOrAdd(const QString& name, const QString& value)
    {
        QSqlQuery query(m_db);
        if (run(query, updateSql(), {value, name}) && query.numRowsAffected() == 0) {
            QSqlQuery add(m_db);
            run(add, insertSql(), {name, value});
        }
    }
    // Adds the row or updates the one that is there.
    void put(const QString& name, const QString& value)
    {
        const bool exists = rowExists(name);
        QSqlQuery query(m_db);
        if (exists) {
            run(query, updateSql(), {value, name});
        } else {
            run(query, insertSql(), {name, value});
        }
    }
    void removeIfPresent(const QString& name)
    {
        if (rowExists(name)) {
            QSqlQuery query(m_db);
            run(query, QStringLiteral("delete from %1 where name=?").arg(m_table), {name});
        }
    }

    bool failed() const { return !failure.isEmpty(); }
    QString failure;

private:
    QString updateSql() const { return QStringLiteral("update %1 set value=? where name=?").arg(m_table); }
    QString insertSql() const { return QStringLiteral("insert into %1 values(?, ?)").arg(m_table); }

    bool run(QSqlQuery& query, const QString& sql, const QVariantList& values)
    {
        if (failed()) {
            return false;
        }
        if (!query.prepare(sql)) {
            failure = QStringLiteral("%1: %2").arg(sql, query.lastError().text());
            return false;
        }
        for (const QVariant& v : values) {
            query.addBindValue(v);
        }
        if (!query.exec()) {
            failure = QStringLiteral("%1: %2").arg(sql, query.lastError().text());
            return false;
        }
        return true;
    }
    // Whether a row of that name exists; false also when the select failed,
    // which failure then records.
    bool rowExists(const QString& name)
    {
        QSqlQuery query(m_db);
        if (!run(query, QStringLiteral("select * from %1 where name=?").arg(m_table), {name})) {
            return false;
        }
        const bool exists = query.next();
        query.finish();
        return exists;
    }

    QSqlDatabase m_db;
    QString m_table;
};

// Why a set breaks its own invariant (roiLists[d] holds roiCount[d] shapes,
// none of them empty); empty when it holds.
QString unsoundSet(const CammerSingleton& set)
{
    for (int d = 0; d < CammerSingleton::DetectCount; ++d) {
        const int listSize = d < set.roiLists.size() ? set.roiLists[d].size() : 0;
        if (set.roiCount[d] < 0 || set.roiCount[d] > CammerSingleton::AreasPerDetect || listSize != set.roiCount[d]) {
            return QStringLiteral("detect %1 counts %2 areas but holds %3 shapes")
                .arg(d)
                .arg(set.roiCount[d])
                .arg(listSize);
        }
        for (const ROIInterface* shape : set.roiLists[d]) {
            if (!shape) {
                return QStringLiteral("detect %1 has an empty shape entry").arg(d);
            }
        }
    }
    return QString();
}

} // namespace

bool isKnownDetectFunction(int function)
{
    return function >= FuncDefect && function <= FuncReserved11;
}

QString detectFunctionName(int function)
{
    const FunctionName& name = kFunctionNames[isKnownDetectFunction(function) ? function : 0];
    const QString chinese = QCoreApplication::translate("CammerWidget", name.chinese);
    if (gLanguage != 0) {
        const QString translated = textOf(name.textId);
        if (!translated.isEmpty()) {
            return translated;
        }
    }
    return chinese;
}

AreaSettings missingAreaDefaults()
{
    return AreaSettings();
}

void applyFunctionDefaults(AreaSettings& area, int function)
{
    area.function = function;
    switch (function) {
    case FuncDefect:
    case FuncIgnoreArea:
        if (gpSystemParam) {
            area.param = gpSystemParam->filterSize();
            area.upper = gpSystemParam->alarmArea();
        }
        area.lower = 25;
        break;
    case FuncSpot:
        area.param = 12800;  // grey band 0 to 50
        area.lower = 80;
        area.upper = 500;
        break;
    case FuncPosition:
        area.param = 10;
        area.lower = 10;
        area.upper = 10;
        break;
    case FuncBlackArea:
        area.lower = 50;
        area.upper = 100;
        break;
    case FuncWhiteArea:
        area.lower = 200;
        area.upper = 100;
        break;
    case FuncSimilarity:
        area.lower = 80;
        break;
    case FuncWhiteNum:
        area.param = 1;
        area.lower = 128;
        area.upper = 100;
        break;
    case FuncTempAlarm:
        area.param = 90;          // emissivity 90
        area.lower = 65616;       // low alarm 80, temperature type 1
        area.upper = 1310840;     // high alarm 120, reflected temperature 20
        break;
    case FuncAngleCorrect:
        area.param = 1;
        area.lower = 1;
        area.upper = 1;
        break;
    default:
        break;
    }
}

AreaSettings firstAreaSettings(const std::function<bool(int function)>& offered)
{
    AreaSettings area;
    for (int function : {FuncSpot, FuncBlackArea, FuncWhiteArea, FuncSimilarity, FuncWhiteNum,
                         FuncTempAlarm}) {
        if (offered && offered(function)) {
            applyFunctionDefaults(area, function);
            if (function == FuncWhiteNum) {
                area.param = 5;
                area.lower = 128;
                area.upper = 1;
            }
            return area;
        }
    }
    applyFunctionDefaults(area, FuncDefect);
    return area;
}

void clearROIList(QList<ROIInterface*>& list)
{
    while (!list.isEmpty()) {
        delete list.takeLast();
    }
}

CammerSingleton::CammerSingleton(int camera)
    : camera(camera)
{
    // Every detect has its list from the start, so an edit set that was never
    // loaded can be indexed like a loaded one.
    for (int d = 0; d < DetectCount; ++d) {
        roiLists.append(QList<ROIInterface*>());
    }
}

CammerSingleton::~CammerSingleton()
{
    clearLists();
}

void CammerSingleton::clearLists()
{
    for (QList<ROIInterface*>& list : roiLists) {
        clearROIList(list);
    }
    roiLists.clear();
}

QString CammerSingleton::tableName() const
{
    return QStringLiteral("cammer%1").arg(camera);
}

bool CammerSingleton::IsAreaFaulty(int slot) const
{
    if (slot < 0 || slot >= SlotCount) {
        return true;
    }
    return roiLoadFault[slot] != 0 || !isKnownDetectFunction(roiFunction[slot]);
}

bool CammerSingleton::IsDetectFaulty(int detect) const
{
    return detect < 0 || detect >= DetectCount || detectLoadFault[detect] != 0;
}

bool CammerSingleton::LoadFromDB(int imageWidth, int imageHeight, cv::Mat* roiMasks)
{
    // Loading again must neither leak nor stack a second set of lists, and must
    // give the same set as loading into a fresh one.
    clearLists();
    for (qint32* table : {roiParam, roiLower, roiUpper, roiFunction, roiShapeType}) {
        std::fill(table, table + SlotCount, 0);
    }
    std::fill(std::begin(roiOutput), std::end(roiOutput), 0);
    std::fill(std::begin(roiLoadFault), std::end(roiLoadFault), quint8(0));
    std::fill(std::begin(detectLoadFault), std::end(detectLoadFault), quint8(0));

    const QString table = tableName();
    AreaTable rows(QSqlDatabase::database(ParamConnection, false), table);
    const QJsonObject sizeHint{{QStringLiteral("width"), imageWidth},
                               {QStringLiteral("height"), imageHeight}};
    int faults = 0;
    auto report = [&](const QString& what) {
        ++faults;
        qWarning().noquote() << QStringLiteral("%1: %2").arg(table, what);
    };

    for (int d = 0; d < DetectCount; ++d) {
        roiLists.append(QList<ROIInterface*>());
        const DetectRow detect = readDetectRow(rows, d);
        for (const QString& problem : detect.problems) {
            report(problem);
        }
        detectLoadFault[d] = detect.fault ? 1 : 0;
        std::copy(std::begin(detect.extra), std::end(detect.extra), detectExtra[d]);
        roiCount[d] = detect.count;

        for (int m = 0; m < detect.count; ++m) {
            const int slot = d * AreasPerDetect + m;
            const QString areaName = QStringLiteral("ROI%1-%2").arg(d).arg(m);
            AreaRow area;
            QString problem;
            ROIInterface* shape = readAreaRow(rows, areaName, sizeHint, &area, &problem);
            if (shape) {
                if (area.output < 0 || area.output > MaxOutputChannel) {
                    report(QStringLiteral("%1 has output %2, using 0").arg(areaName).arg(area.output));
                    area.output = 0;
                }
                if (!isKnownDetectFunction(area.function)) {
                    // Kept as stored so that saving does not invent a function;
                    // IsAreaFaulty makes the inspection treat it as an error.
                    report(QStringLiteral("%1 has unknown function %2").arg(areaName).arg(area.function));
                }
            } else {
                report(QStringLiteral("%1 %2; the default area stands in").arg(areaName, problem));
                roiLoadFault[slot] = 1;
                const AreaSettings defaults = missingAreaDefaults();
                area.param = defaults.param;
                area.lower = defaults.lower;
                area.upper = defaults.upper;
                area.function = defaults.function;
                area.shapeType = ROIRect;
                area.output = 0;
                shape = new ClustomRect(50, 50, 100, 100);
            }
            roiParam[slot] = area.param;
            roiLower[slot] = area.lower;
            roiUpper[slot] = area.upper;
            roiFunction[slot] = area.function;
            roiShapeType[slot] = area.shapeType;
            roiOutput[m] = area.output;
            if (roiMasks) {
                roiMasks[slot] = shape->createMask();
            }
            roiLists[d].append(shape);
        }
    }

    if (faults > 0) {
        warnOperator(textOf(0));
    }
    return faults == 0;
}

bool CammerSingleton::SaveToDB()
{
    const QString table = tableName();
    auto refuse = [&](const QString& why) {
        qCritical().noquote() << QStringLiteral("%1: areas not saved: %2").arg(table, why);
        warnOperator(textOf(1));
        return false;
    };

    // A set that breaks its own invariant would be written half; refuse it whole.
    const QString unsound = unsoundSet(*this);
    if (!unsound.isEmpty()) {
        return refuse(unsound);
    }
    QSqlDatabase db = QSqlDatabase::database(ParamConnection, false);
    if (!db.isOpen()) {
        return refuse(QStringLiteral("PARAM.db is not open"));
    }
    if (!db.transaction()) {
        return refuse(QStringLiteral("cannot start a transaction (%1)").arg(db.lastError().text()));
    }

    TableWriter rows(db, table);
    rows.createTable();
    for (int d = 0; d < DetectCount && !rows.failed(); ++d) {
        // Without its detect row the areas below would load as none at all.
        rows.updateOrAdd(QStringLiteral("detect%1").arg(d),
                         numbers({roiCount[d], detectExtra[d][0], detectExtra[d][1], detectExtra[d][2],
                                  detectExtra[d][3], detectExtra[d][4], detectExtra[d][5], detectExtra[d][6],
                                  detectExtra[d][7]}));
        for (int m = 0; m < roiCount[d] && !rows.failed(); ++m) {
            const int slot = d * AreasPerDetect + m;
            rows.put(QStringLiteral("ROI%1-%2").arg(d).arg(m),
                     numbers({roiParam[slot], roiLower[slot], roiUpper[slot], roiFunction[slot],
                              roiShapeType[slot], roiOutput[m]})
                         + QLatin1Char(' ') + roiLists[d][m]->toText());
        }
        // Rows of areas the set no longer has would come back at the next load.
        for (int m = roiCount[d]; m < AreasPerDetect && !rows.failed(); ++m) {
            rows.removeIfPresent(QStringLiteral("ROI%1-%2").arg(d).arg(m));
        }
    }

    QString failure = rows.failure;
    if (failure.isEmpty() && !db.commit()) {
        failure = QStringLiteral("commit: %1").arg(db.lastError().text());
    }
    if (!failure.isEmpty()) {
        if (!db.rollback()) {
            qCritical().noquote() << QStringLiteral("%1: rollback failed: %2")
                                         .arg(table, db.lastError().text());
        }
        return refuse(failure);
    }
    std::fill(std::begin(roiLoadFault), std::end(roiLoadFault), quint8(0));
    std::fill(std::begin(detectLoadFault), std::end(detectLoadFault), quint8(0));
    return true;
}

void CammerSingleton::CopyFrom(const CammerSingleton& src)
{
    if (&src == this) {
        return;
    }
    camera = src.camera;
    std::copy(std::begin(src.roiCount), std::end(src.roiCount), roiCount);
    std::copy(std::begin(src.roiParam), std::end(src.roiParam), roiParam);
    std::copy(std::begin(src.roiLower), std::end(src.roiLower), roiLower);
    std::copy(std::begin(src.roiUpper), std::end(src.roiUpper), roiUpper);
    std::copy(std::begin(src.roiFunction), std::end(src.roiFunction), roiFunction);
    std::copy(std::begin(src.roiShapeType), std::end(src.roiShapeType), roiShapeType);
    std::copy(std::begin(src.roiOutput), std::end(src.roiOutput), roiOutput);
    for (int d = 0; d < DetectCount; ++d) {
        std::copy(std::begin(src.detectExtra[d]), std::end(src.detectExtra[d]), detectExtra[d]);
    }
    std::copy(std::begin(src.roiLoadFault), std::end(src.roiLoadFault), roiLoadFault);
    std::copy(std::begin(src.detectLoadFault), std::end(src.detectLoadFault), detectLoadFault);

    for (QList<ROIInterface*>& list : roiLists) {
        clearROIList(list);
    }
    for (int j = 0; j < src.roiLists.size(); ++j) {
        QList<ROIInterface*> clones;
        clones.reserve(src.roiLists[j].size());
        for (const ROIInterface* shape : src.roiLists[j]) {
            clones.append(cloneROI(*shape));
        }
        if (j < roiLists.size()) {
            roiLists[j] = clones;
        } else {
            roiLists.append(clones);
        }
    }
    // Lists beyond src's would make the copy differ from src.
    while (roiLists.size() > src.roiLists.size()) {
        roiLists.removeLast();
    }
}

bool CammerSingleton::IsSame(const CammerSingleton& other) const
{
    if (camera != other.camera || !std::equal(std::begin(roiCount), std::end(roiCount), other.roiCount)
        || !std::equal(std::begin(roiParam), std::end(roiParam), other.roiParam)
        || !std::equal(std::begin(roiLower), std::end(roiLower), other.roiLower)
        || !std::equal(std::begin(roiUpper), std::end(roiUpper), other.roiUpper)
        || !std::equal(std::begin(roiFunction), std::end(roiFunction), other.roiFunction)
        || !std::equal(std::begin(roiShapeType), std::end(roiShapeType), other.roiShapeType)
        || !std::equal(std::begin(roiOutput), std::end(roiOutput), other.roiOutput)) {
        return false;
    }
    for (int d = 0; d < DetectCount; ++d) {
        if (!std::equal(std::begin(detectExtra[d]), std::end(detectExtra[d]), other.detectExtra[d])) {
            return false;
        }
    }
    if (roiLists.size() != other.roiLists.size()) {
        return false;
    }
    for (int j = 0; j < roiLists.size(); ++j) {
        if (roiLists[j].size() != other.roiLists[j].size()) {
            return false;
        }
        for (int i = 0; i < roiLists[j].size(); ++i) {
            const ROIInterface* mine = roiLists[j][i];
            const ROIInterface* theirs = other.roiLists[j][i];
            if (!mine || !theirs || !mine->isEqual(theirs)) {
                return false;
            }
        }
    }
    return true;
}

int cammerSingletonMetaTypeId()
{
    static const int id = qRegisterMetaType<CammerSingleton*>("CammerSingleton *");
    return id;
}

namespace {
// Registered before main, so that the name is known before any station
// hands its set over.
[[maybe_unused]] const int registeredAtStart = cammerSingletonMetaTypeId();
} // namespace
