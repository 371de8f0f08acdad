#include "advanceparamwidget.h"
#include "colorbutton.h"
#include "edit.h"
#include "inputoutputparamwidget.h"
#include "logcapture.h"
#include "numberkeypad.h"
#include "operationlog.h"
#include "paramchangelog.h"
#include "paragroupactions.h"
#include "paramstorage.h"
#include "platformhelpers.h"
#include "processstate.h"
#include "productioncounters.h"
#include "recordingsystemcommands.h"
#include "recordwidget.h"
#include "settingshost.h"
#include "systemparam.h"
#include "systemparamdialog.h"
#include "systemparamwidget.h"
#include "testworkdir.h"
#include "texttable.h"

#include <QLabel>
#include <QListWidget>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

namespace {

const char* const kAllChangedZh =
    "修改了系统参数"
    "，成品延时从0改为1072"
    "，模腔延时从0改为1073"
    "，模腔检测自动重检次数从0改为1143"
    "，过滤尺寸从0改为1149"
    "，报警面积从0改为1150"
    "，半自动 改为启用"
    "，启用成品检测 改为启用"
    "，运动矫正 改为不用"
    "，模腔参数同步成品参数 改为启用"
    "，模板自动更新 改为启用"
    "，1号相机曝光时间从0改为1000"
    "，1号相机增益从0改为1008"
    "，1号相机清晰度从0改为1016"
    "，1号相机真实度从0改为1024"
    "，1号相机Gamma从0改为1032"
    "，1号相机距离从0改为1056"
    "，1号相机反射温度从0改为1064"
    "，2号相机曝光时间从0改为1001"
    "，2号相机增益从0改为1009"
    "，2号相机清晰度从0改为1017"
    "，2号相机真实度从0改为1025"
    "，2号相机Gamma从0改为1033"
    "，2号相机距离从0改为1057"
    "，2号相机反射温度从0改为1065"
    "，3号相机曝光时间从0改为1002"
    "，3号相机增益从0改为1010"
    "，3号相机清晰度从0改为1018"
    "，3号相机真实度从0改为1026"
    "，3号相机Gamma从0改为1034"
    "，3号相机距离从0改为1058"
    "，3号相机反射温度从0改为1066"
    "，4号相机曝光时间从0改为1003"
    "，4号相机增益从0改为1011"
    "，4号相机清晰度从0改为1019"
    "，4号相机真实度从0改为1027"
    "，4号相机Gamma从0改为1035"
    "，4号相机距离从0改为1059"
    "，4号相机反射温度从0改为1067"
    "，5号相机曝光时间从0改为1004"
    "，5号相机增益从0改为1012"
    "，5号相机清晰度从0改为1020"
    "，5号相机真实度从0改为1028"
    "，5号相机Gamma从0改为1036"
    "，5号相机距离从0改为1060"
    "，5号相机反射温度从0改为1068"
    "，6号相机曝光时间从0改为1005"
    "，6号相机增益从0改为1013"
    "，6号相机清晰度从0改为1021"
    "，6号相机真实度从0改为1029"
    "，6号相机Gamma从0改为1037"
    "，6号相机距离从0改为1061"
    "，6号相机反射温度从0改为1069"
    "，7号相机曝光时间从0改为1006"
    "，7号相机增益从0改为1014"
    "，7号相机清晰度从0改为1022"
    "，7号相机真实度从0改为1030"
    "，7号相机Gamma从0改为1038"
    "，7号相机距离从0改为1062"
    "，7号相机反射温度从0改为1070"
    "，8号相机曝光时间从0改为1007"
    "，8号相机增益从0改为1015"
    "，8号相机清晰度从0改为1023"
    "，8号相机真实度从0改为1031"
    "，8号相机Gamma从0改为1039"
    "，8号相机距离从0改为1063"
    "，8号相机反射温度从0改为1071"
    "，采集速度从0改为1139"
    "，彩色相机代替黑白相机 改为启用"
    "，灰度通道替代颜色通道 改为启用"
    "，自动曝光 改为启用"
    "，匹配模板亮度 改为启用"
    "，自动明暗调节 改为启用"
    "，禁止镜头优化 改为启用"
    "，使用相机外部触发 改为启用"
    "，启用缺陷检测算法 改为启用"
    "，启用斑点检测算法 改为启用"
    "，启用忽略区域算法 改为启用"
    "，启用手动编辑定位区域 改为启用"
    "，角度矫正 改为启用"
    "，显示算法详细参数 改为启用"
    "，启用黑斑面积 改为启用"
    "，启用白斑面积 改为启用"
    "，启用白斑个数 改为启用"
    "，启用相似度 改为启用"
    "，温度警报 改为启用"
    "，IO通讯口从0改为1181"
    "，输入超时从0改为1146"
    "，前切合模从0改为1192"
    "，顶针脉冲从0改为1144"
    "，合模脉冲从0改为1145"
    "，备用输入代替从0改为1153"
    "，备用输出代替从0改为1173"
    "，输出1初始状态从0改为1108"
    "，输出2初始状态从0改为1109"
    "，警报初始状态从0改为1110"
    "，输出4初始状态从0改为1111"
    "，模具侧从0改为1191"
    "，合模时切断顶针 改为启用"
    "，停止检测时禁止合模 改为禁止合模"
    "，成品检测不控制顶针信号 改为启用"
    "，成品检测NG时顶针输出脉冲"
    "，不报警停机 改为启用"
    "，模腔检测OK后定时切断合模 改为启用"
    "，先开安全门才能解除警报 改为启用"
    "，安全门触发检测 改为启用"
    "，OK和NG各输出脉冲 改为启用"
    "，模板张数从0改为1135"
    "，NG图记录从0改为1136"
    "，OK图记录从0改为1137"
    "，差异倍数从0改为1140"
    "，自动注销从0改为1141"
    "，最大偏移从0改为1174"
    "，屏幕熄屏从0改为1138"
    "，最小斑点从0改为1185"
    "，旋转矫正从0改为1200"
    "，不检测此模密码保护 改为启用"
    "，添加为模板密码保护 改为启用"
    "，启用密码保护 改为启用"
    "，密码已被修改";
const char* const kAllChangedEn =
    "Modify the system parameters"
    ", The time delay for detection Prodis changed from 0 to 1072"
    ", The time delay for detection Moldis changed from 0 to 1073"
    ", The automatic redetecting times for detection Mold is changed from 0 to 1143"
    ", filter Size is changed from 0 to 1149"
    ", Area is changed from 0 to 1150"
    ", Semiauto is changed to active"
    ", Enable detection prod is changed to active"
    ", Motion correcte is changed to deactive"
    ", Two same parameters is changed to active"
    ", Template auto update is changed to active"
    ", The exposure time of camera 1is changed from 0 to 1000 "
    ", The gain of camera 1 is changed from 0 to 1008"
    ", the clarity of camera 1 is changed from 0 to 1016 "
    ", the truth of camera 1 is changed from 0 to 1024"
    ", the Gamma of camera 1 is changed from 0 to 1032"
    ", the distance of camera 1 is changed from 0 to 1056"
    ", the Reflection temperature of camera 1 is changed from 0 to 1064"
    ", The exposure time of camera 2is changed from 0 to 1001 "
    ", The gain of camera 2 is changed from 0 to 1009"
    ", the clarity of camera 2 is changed from 0 to 1017 "
    ", the truth of camera 2 is changed from 0 to 1025"
    ", the Gamma of camera 2 is changed from 0 to 1033"
    ", the distance of camera 2 is changed from 0 to 1057"
    ", the Reflection temperature of camera 2 is changed from 0 to 1065"
    ", The exposure time of camera 3is changed from 0 to 1002 "
    ", The gain of camera 3 is changed from 0 to 1010"
    ", the clarity of camera 3 is changed from 0 to 1018 "
    ", the truth of camera 3 is changed from 0 to 1026"
    ", the Gamma of camera 3 is changed from 0 to 1034"
    ", the distance of camera 3 is changed from 0 to 1058"
    ", the Reflection temperature of camera 3 is changed from 0 to 1066"
    ", The exposure time of camera 4is changed from 0 to 1003 "
    ", The gain of camera 4 is changed from 0 to 1011"
    ", the clarity of camera 4 is changed from 0 to 1019 "
    ", the truth of camera 4 is changed from 0 to 1027"
    ", the Gamma of camera 4 is changed from 0 to 1035"
    ", the distance of camera 4 is changed from 0 to 1059"
    ", the Reflection temperature of camera 4 is changed from 0 to 1067"
    ", The exposure time of camera 5is changed from 0 to 1004 "
    ", The gain of camera 5 is changed from 0 to 1012"
    ", the clarity of camera 5 is changed from 0 to 1020 "
    ", the truth of camera 5 is changed from 0 to 1028"
    ", the Gamma of camera 5 is changed from 0 to 1036"
    ", the distance of camera 5 is changed from 0 to 1060"
    ", the Reflection temperature of camera 5 is changed from 0 to 1068"
    ", The exposure time of camera 6is changed from 0 to 1005 "
    ", The gain of camera 6 is changed from 0 to 1013"
    ", the clarity of camera 6 is changed from 0 to 1021 "
    ", the truth of camera 6 is changed from 0 to 1029"
    ", the Gamma of camera 6 is changed from 0 to 1037"
    ", the distance of camera 6 is changed from 0 to 1061"
    ", the Reflection temperature of camera 6 is changed from 0 to 1069"
    ", The exposure time of camera 7is changed from 0 to 1006 "
    ", The gain of camera 7 is changed from 0 to 1014"
    ", the clarity of camera 7 is changed from 0 to 1022 "
    ", the truth of camera 7 is changed from 0 to 1030"
    ", the Gamma of camera 7 is changed from 0 to 1038"
    ", the distance of camera 7 is changed from 0 to 1062"
    ", the Reflection temperature of camera 7 is changed from 0 to 1070"
    ", The exposure time of camera 8is changed from 0 to 1007 "
    ", The gain of camera 8 is changed from 0 to 1015"
    ", the clarity of camera 8 is changed from 0 to 1023 "
    ", the truth of camera 8 is changed from 0 to 1031"
    ", the Gamma of camera 8 is changed from 0 to 1039"
    ", the distance of camera 8 is changed from 0 to 1063"
    ", the Reflection temperature of camera 8 is changed from 0 to 1071"
    ", Speed is changed from 0 to 1139"
    ", Color camera instead of monochrome is changed to active"
    ", Gray channel instead of color is changed to active"
    ", Auto exposure is changed to active"
    ", Match template brightness is changed to active"
    ", Automatic shading is changed to active"
    ", No lens optimization is changed to active"
    ", Use External Trigger is changed to active"
    ", Enable the defect detection algorithm is changed to active"
    ", Enable the spot detection algorithm is changed to active"
    ", Enable ignore area algorithm is changed to active"
    ", Enable manually editing to locate area is changed to active"
    ", 角度矫正 is changed to active"
    ", Display all the parameters is changed to active"
    ", Enable black area is changed to active"
    ", Enable white area is changed to active"
    ", Enable white number is changed to active"
    ", Enable similarity is changed to active"
    ", Temperature alarm is changed to active"
    ", IO Port is changed from 0 to 1181"
    ", I-Time is changed from 0 to 1146"
    ", Pre-Cut is changed from 0 to 1192"
    ", Ejector P is changed from 0 to 1144"
    ", Clamp P is changed from 0 to 1145"
    ", Iuput 4 used for is changed from 0 to 1153"
    ", Output 4 used for is changed from 0 to 1173"
    ", Output 1 initial state is changed from 0 to 1108"
    ", Output 2 initial state is changed from 0 to 1109"
    ", Alarm initial state is changed from 0 to 1110"
    ", Output 4 initial state is changed from 0 to 1111"
    ", Mould side is changed from 0 to 1191"
    ", Cut ejector when clamping is changed to active"
    ", Stop clamping when stopping detection is changed to Prohibit to clamp"
    ", No ejector signal control in prod is changed to active"
    ", Ejector pulse when NG in prod"
    ", don't' alarm is changed to active"
    ", Cut the clamping at fixed time after mold ok is changed to active"
    ", Open the safety door to lift the alarm is changed to active"
    ", Safety door trigger detection is changed to active"
    ", OK and NG output pulses is changed to active"
    ", Temp number is changed from 0 to 1135"
    ", NG-Rec is changed from 0 to 1136"
    ", OK-Rec is changed from 0 to 1137"
    ", Amplify is changed from 0 to 1140"
    ", A-Logout is changed from 0 to 1141"
    ", Offset is changed from 0 to 1174"
    ", Scr Off is changed from 0 to 1138"
    ", Min Spot is changed from 0 to 1185"
    ", Angle is changed from 0 to 1200"
    ", Don't detect this password protection is changed to active"
    ", Add to template password protection is changed to active"
    ", Enable Password is changed to active"
    ", the password has been modified";

// The main window as the dialog sees it: every call written down in order.
class RecordingHost : public SettingsHost {
public:
    RecordingHost() { setSettingsHost(this); }
    ~RecordingHost() override { clearSettingsHost(this); }

    void insertRecord(const QString& text) override { rows << text; }
    void publishCounters() override { calls << "publish"; }
    void countWrite() override
    {
        calls << "countWrite";
        writeCountFile();
    }
    void flushAll() override { calls << "flushAll"; }
    void restartCameras() override { calls << "restartCameras"; }
    int curSide() const override { return side; }
    void setCurSide(int s) override { side = s; }
    bool saveOriginalImages() const override { return raw; }
    void setSaveOriginalImages(bool on) override { raw = on; }
    QString recordConnectionName() const override { return QStringLiteral("dbRecord"); }
    void pushLiveCameraSetting(int camera, CameraSetting setting) override
    {
        static const char* const names[] = {"Exposure", "Gain", "Sharpness", "Contrast", "Gamma", "AutoWDR", "Mirror"};
        calls << QStringLiteral("%1 %2").arg(QString::fromLatin1(names[setting])).arg(camera);
    }
    void setTriggerMode(int camera, int mode) override { calls << QStringLiteral("Trigger %1 %2").arg(camera).arg(mode); }
    void copyParaAndSave(int camera) override { calls << QStringLiteral("CopyPara+SaveToDB %1").arg(camera); }
    void trainLocate(int camera, int detect) override { calls << QStringLiteral("Locate %1/%2").arg(camera).arg(detect); }
    void trainAlign(int camera, int detect) override { calls << QStringLiteral("Align %1/%2").arg(camera).arg(detect); }
    void trainModels(int camera, int detect) override { calls << QStringLiteral("Models %1/%2").arg(camera).arg(detect); }
    void repaintStation(int camera) override { calls << QStringLiteral("repaint %1").arg(camera); }

    QStringList rows;
    QStringList calls;
    int side = 0;
    bool raw = false;

    QStringList followUps() const
    {
        QStringList out;
        for (const QString& c : calls) {
            if (!c.startsWith(QLatin1String("repaint"))) {
                out << c;
            }
        }
        return out;
    }
};

SystemParam zeroRecord()
{
    SystemParam r;
    r.clear();
    return r;
}

// A working folder with PARAM.db loaded into both records, as the main window
// leaves them before it opens the dialog.
struct Plant {
    Plant()
    {
        initTextTable();
        gLanguage = 0;
        gpSystemParam = &live;
        gpSystemParamEdit = &edit;
        QVERIFY(writeFactoryParamGroup(QStringLiteral(".")));
        openParamDatabase();
        live.clear();
        initSysParamDefaults(&live);
        loadSysParam(&live);
        QVERIFY(sysParamLoaded());
        // As any earlier OK has left it: the camera page ticks the detail
        // switch whenever an algorithm that needs its details is on.
        for (int slot : {166, 196, 195, 197, 198}) {
            if (live[slot] != 0) {
                live[169] = 1;
            }
        }
        edit = live;
        gCameraCount = 2;
        gDetectCount = 2;
    }
    ~Plant()
    {
        for (const char* name : {kParamConnectionName, kSerialConnectionName}) {
            if (QSqlDatabase::contains(QString::fromLatin1(name))) {
                QSqlDatabase::database(QString::fromLatin1(name), false).close();
                QSqlDatabase::removeDatabase(QString::fromLatin1(name));
            }
        }
    }
    // The record as PARAM.db now holds it.
    SystemParam stored()
    {
        SystemParam r;
        r.clear();
        initSysParamDefaults(&r);
        loadSysParam(&r);
        return r;
    }

    SystemParam live;
    SystemParam edit;
};

// What applyParamChanges reaches: the dialog with its pages stored as the
// operator left them, then the apply alone.
void applyOnly(SystemParamDialog& dialog)
{
    dialog.applyParamChanges();
}

} // namespace

class TestSystemParamDialog : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_state.emplace();
        m_dir.emplace();
    }
    void cleanup()
    {
        m_dir.reset();
        m_state.reset();
    }

    void changeSentence_data();
    void changeSentence();
    void derivation_data();
    void derivation();
    void applyEqualRecords();
    void applyDeclined();
    void applyRefusedWithoutAlgorithm();
    void applyNoticesInOrder();
    void applyFollowUps_data();
    void applyFollowUps();
    void applyReadOnlyParamDb();
    void languageChoice();
    void systemPage_data();
    void systemPage();
    void counterReset_data();
    void counterReset();
    void ioPage();
    void advancedPage();
    void groupsOnTheAdvancedPage();
    void openAndOkAtOnce();
    void backgroundPressClosesPad();
    void fixedCaptions_data();
    void fixedCaptions();
    void powerOff_data();
    void powerOff();
    void recordPage();

private:
    std::optional<ProcessState> m_state;
    std::optional<TestWorkDir> m_dir;
};

void TestSystemParamDialog::changeSentence_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");

    QTest::newRow("every row, Simplified Chinese") << 0 << "all" << QString::fromUtf8(kAllChangedZh);
    QTest::newRow("every row, English") << 1 << "all" << QString::fromUtf8(kAllChangedEn);
    QTest::newRow("product delay and camera 2 exposure")
        << 0 << "example" << QStringLiteral("修改了系统参数，成品延时从20改为25，2号相机曝光时间从30改为35");
    QTest::newRow("mirror only") << 0 << "mirror" << QStringLiteral("修改了系统参数");
    QTest::newRow("motion correction on") << 0 << "129:-1>0" << QStringLiteral("修改了系统参数，运动矫正 改为启用");
    QTest::newRow("motion correction off") << 0 << "129:0>-1" << QStringLiteral("修改了系统参数，运动矫正 改为不用");
    QTest::newRow("no clamp when stopped on")
        << 0 << "128:0>1" << QStringLiteral("修改了系统参数，停止检测时禁止合模 改为禁止合模");
    QTest::newRow("no clamp when stopped off")
        << 0 << "128:1>0" << QStringLiteral("修改了系统参数，停止检测时禁止合模 改为允许合模");
    QTest::newRow("derived slots and output 5 are not named")
        << 0 << "unnamed" << QStringLiteral("修改了系统参数");
}

void TestSystemParamDialog::changeSentence()
{
    QFETCH(int, language);
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    initTextTable();
    gLanguage = language;
    gCameraCount = 1;  // the rows cover all eight cameras whatever the count

    SystemParam live = zeroRecord();
    SystemParam edit = zeroRecord();
    if (kind == QLatin1String("all")) {
        for (int slot = 0; slot < SystemParam::SlotCount; ++slot) {
            if (slot < SystemParam::PasswordSlot || slot >= SystemParam::PasswordSlot + 25) {
                edit[slot] = slot == 129 ? -1 : slot + 1000;
            }
        }
        QVERIFY(edit.setPasswordText(QStringLiteral("1234")));
    } else if (kind == QLatin1String("example")) {
        live[72] = 20;
        edit[72] = 25;
        live[1] = 30;
        edit[1] = 35;
    } else if (kind == QLatin1String("mirror")) {
        edit[40] = 1;
        edit[53] = 1;
    } else if (kind == QLatin1String("unnamed")) {
        for (int slot : {112, 113, 117, 147, 148, 155, 160, 163, 172, 177, 186, 188, 189, 190, 119, 81, 290, 341, 342}) {
            edit[slot] = 3;
        }
    } else {
        const QStringList parts = kind.split(QRegularExpression(QStringLiteral("[:>]")));
        live[parts[0].toInt()] = parts[1].toInt();
        edit[parts[0].toInt()] = parts[2].toInt();
    }
    QCOMPARE(paramChangeSentence(edit, live), expected);
}

void TestSystemParamDialog::derivation_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("product");  // slot 133
    QTest::addColumn<int>("semi");     // slot 118
    QTest::addColumn<int>("pulseOnNg");  // slot 152
    // 81, 82, 113, 114, 115, 119, 120, 121, 122, then curSide (was 7).
    QTest::addColumn<QList<int>>("expected");

    // Slots the derivation leaves alone hold 9 beforehand.
    QTest::newRow("standard, semi-auto") << 0 << 0 << 1 << 1 << 0 << QList<int>{0, 2, 1, 1, 1, 1, 1, 9, 9, 7};
    QTest::newRow("standard, pulse on NG") << 0 << 2 << 0 << 0 << 1 << QList<int>{0, 0, 0, 0, 0, 0, 1, 9, 9, 7};
    QTest::newRow("two-colour, left") << 1 << 0 << 1 << 0 << 0 << QList<int>{0, 2, 9, 9, 9, 1, 1, 0, 0, 1};
    QTest::newRow("two-colour, right") << 1 << 1 << 1 << 0 << 0 << QList<int>{0, 3, 9, 9, 9, 0, 0, 1, 1, 0};
    QTest::newRow("two-colour, both, no product") << 1 << 2 << 0 << 1 << 1 << QList<int>{0, 255, 9, 9, 9, 0, 1, 0, 1, 7};
    QTest::newRow("rotary, left, semi") << 2 << 0 << 1 << 1 << 0 << QList<int>{0, 2, 9, 9, 9, 1, 1, 0, 0, 1};
    QTest::newRow("rotary, left") << 2 << 0 << 1 << 0 << 0 << QList<int>{0, 0, 9, 9, 9, 1, 1, 0, 0, 1};
    QTest::newRow("rotary, right") << 2 << 1 << 0 << 0 << 0 << QList<int>{3, 3, 9, 9, 9, 0, 0, 0, 1, 0};
    QTest::newRow("rotary, both") << 2 << 2 << 1 << 0 << 0 << QList<int>{255, 255, 9, 9, 9, 1, 1, 1, 1, 7};
    QTest::newRow("unknown type") << 5 << 0 << 1 << 1 << 1 << QList<int>{9, 9, 9, 9, 9, 9, 9, 9, 9, 7};
}

void TestSystemParamDialog::derivation()
{
    QFETCH(int, type);
    QFETCH(int, side);
    QFETCH(int, product);
    QFETCH(int, semi);
    QFETCH(int, pulseOnNg);
    QFETCH(QList<int>, expected);

    SystemParam r = zeroRecord();
    for (int slot : {81, 82, 113, 114, 115, 119, 120, 121, 122}) {
        r[slot] = 9;
    }
    r[190] = type;
    r[191] = side;
    r[133] = product;
    r[118] = semi;
    r[152] = pulseOnNg;
    const int curSide = deriveMachineSlots(&r, 7);
    QList<int> got;
    for (int slot : {81, 82, 113, 114, 115, 119, 120, 121, 122}) {
        got << r[slot];
    }
    got << curSide;
    QCOMPARE(got, expected);
    QCOMPARE(r[189], type);
    QCOMPARE(r[290], 4);
}

void TestSystemParamDialog::applyEqualRecords()
{
    Plant plant;
    RecordingHost host;
    SystemParamDialog dialog;
    PromptAnswerer prompts;
    applyOnly(dialog);
    QVERIFY(prompts.questions.isEmpty());
    QVERIFY(prompts.warnings.isEmpty());
    QVERIFY(host.rows.isEmpty());
    QCOMPARE(host.calls, (QStringList{"repaint 0", "repaint 1"}));
}

void TestSystemParamDialog::applyDeclined()
{
    Plant plant;
    RecordingHost host;
    SystemParamDialog dialog;
    PromptAnswerer prompts({0});
    const SystemParam before = plant.live;
    plant.edit[1] += 5;    // camera 1 exposure
    plant.edit[8] += 1;    // camera 0 gain
    plant.edit[194] ^= 1;  // automatic shading: every camera
    plant.edit[48] ^= 1;   // camera 0 vertical mirror
    plant.edit[72] += 3;
    plant.edit[5] += 1;    // a camera position beyond the count: nothing to push
    applyOnly(dialog);
    QCOMPARE(prompts.questions, QStringList{textOf(234)});
    QCOMPARE(host.calls, (QStringList{"Gain 0", "AutoWDR 0", "Mirror 0", "Exposure 1", "AutoWDR 1", "repaint 0",
                                      "repaint 1"}));
    QVERIFY(host.rows.isEmpty());
    QVERIFY(plant.edit == before);
    QVERIFY(plant.live == before);
}

void TestSystemParamDialog::applyRefusedWithoutAlgorithm()
{
    Plant plant;
    RecordingHost host;
    SystemParamDialog dialog;
    PromptAnswerer prompts({1});
    const SystemParam before = plant.live;
    for (int slot : {165, 166, 196, 197, 195, 199, 198}) {
        plant.edit[slot] = 0;
    }
    plant.edit[167] = 1;  // does not count as a detection algorithm
    plant.edit[0] += 4;
    applyOnly(dialog);
    QCOMPARE(prompts.warnings, QStringList{textOf(232)});
    QVERIFY(prompts.questions.isEmpty());
    // The camera goes back to the value the live record holds; nothing else.
    QCOMPARE(host.calls, QStringList{"Exposure 0"});
    QVERIFY(host.rows.isEmpty());
    QVERIFY(plant.live == before);
    QCOMPARE(plant.edit[0], before[0] + 4);
}

void TestSystemParamDialog::applyNoticesInOrder()
{
    Plant plant;
    RecordingHost host;
    SystemParamDialog dialog;
    PromptAnswerer prompts({1});
    plant.edit[135] += 1;
    plant.edit[181] = 2;
    plant.edit[190] = 1;
    plant.edit[191] = 0;
    applyOnly(dialog);
    QCOMPARE(prompts.warnings, (QStringList{textOf(276), textOf(309), textOf(277)}));
    QCOMPARE(plant.live[189], 1);
    QCOMPARE(gDetectCount, 2);
    QCOMPARE(host.side, 1);
    QCOMPARE(plant.stored()[181], 2);
}

void TestSystemParamDialog::applyFollowUps_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("expected");
    // Two cameras; detect 0 active, detect 1 not (slot 120 = 0 in the record
    // after the derivation only on a two-sided machine; here the standard
    // machine makes 119 = slot 133 and 120 = 1).
    QTest::newRow("external trigger") << "306" << QStringList{"Trigger 0 0", "Trigger 1 0"};
    QTest::newRow("acquisition speed") << "139" << QStringList{"restartCameras"};
    QTest::newRow("motion correction")
        << "129" << QStringList{"Locate 0/1", "Align 0/1", "Locate 1/1", "Align 1/1"};
    QTest::newRow("maximum offset") << "174" << QStringList{"Locate 0/1", "Align 0/1", "Locate 1/1", "Align 1/1"};
    QTest::newRow("product detection off, cavity follows")
        << "133" << QStringList{"Locate 0/1", "Models 0/1", "Locate 1/1", "Models 1/1"};
    QTest::newRow("cavity follows product, product on")
        << "127" << QStringList{"CopyPara+SaveToDB 0", "Locate 0/0", "Models 0/0", "Locate 0/1", "Models 0/1",
                                "CopyPara+SaveToDB 1", "Locate 1/0", "Models 1/0", "Locate 1/1", "Models 1/1"};
    QTest::newRow("motion correction and cavity follows")
        << "129+127" << QStringList{"Locate 0/0", "Align 0/0", "Locate 0/1", "Align 0/1", "Locate 1/0", "Align 1/0",
                                    "Locate 1/1", "Align 1/1", "CopyPara+SaveToDB 0", "Models 0/0", "Models 0/1",
                                    "CopyPara+SaveToDB 1", "Models 1/0", "Models 1/1"};
    QTest::newRow("difference factor") << "140" << QStringList{"Models 0/1", "Models 1/1"};
    QTest::newRow("a value without follow-up") << "150" << QStringList{};
}

void TestSystemParamDialog::applyFollowUps()
{
    QFETCH(QString, change);
    QFETCH(QStringList, expected);
    Plant plant;
    // Standard machine; product detection off unless the case switches it on,
    // so only detect 1 (the cavity) is active.
    for (SystemParam* r : {&plant.live, &plant.edit}) {
        (*r)[189] = 0;
        (*r)[190] = 0;
        (*r)[133] = 0;
        (*r)[127] = 0;
        (*r)[129] = -1;
    }
    RecordingHost host;
    SystemParamDialog dialog;
    PromptAnswerer prompts({1});
    for (const QString& part : change.split(QLatin1Char('+'))) {
        const int slot = part.toInt();
        if (slot == 133) {
            plant.live[133] = 1;
            plant.edit[133] = 0;
            plant.edit[127] = plant.live[127] = 1;
        } else if (slot == 127) {
            plant.edit[127] = 1;
            plant.edit[133] = plant.live[133] = 1;
        } else if (slot == 129) {
            plant.edit[129] = 0;
        } else if (slot == 140) {
            plant.edit[140] = plant.live[140] == 2 ? 3 : 2;
        } else {
            plant.edit[slot] += 1;
        }
    }
    applyOnly(dialog);
    QCOMPARE(host.followUps(), expected);
    QCOMPARE(host.rows.size(), 1);
}

void TestSystemParamDialog::applyReadOnlyParamDb()
{
    Plant plant;
    RecordingHost host;
    {
        QSqlDatabase db = QSqlDatabase::database(QString::fromLatin1(kParamConnectionName), false);
        db.close();
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
    }
    SystemParamDialog dialog;
    PromptAnswerer prompts({1});
    plant.edit[72] = plant.live[72] + 5;
    const QString sentence = paramChangeSentence(plant.edit, plant.live);
    applyOnly(dialog);
    QCOMPARE(prompts.warnings, QStringList{textOf(kTextSaveFailed)});
    QCOMPARE(plant.live[72], plant.edit[72]);
    // The row says the change was made and that it is not on the disk.
    QCOMPARE(host.rows, QStringList{sentence + textOf(kTextSaveFailed)});
}

void TestSystemParamDialog::languageChoice()
{
    Plant plant;
    RecordingHost host;
    SystemParamDialog dialog;
    QCOMPARE(dialog.systemWgt->language->currentIndex(), 0);
    dialog.systemWgt->language->setCurrentIndex(1);
    PromptAnswerer prompts({1});
    dialog.saveAllTabs();
    applyOnly(dialog);
    QCOMPARE(prompts.questions, QStringList{textOf(234)});
    QCOMPARE(prompts.warnings, QStringList{textOf(277)});
    QCOMPARE(host.rows, QStringList{textOf(235)});
    QCOMPARE(gLanguage, 0);  // the running screens keep their language
    plant.stored();
    QCOMPARE(gLanguage, 1);  // the next start reads the choice
}

void TestSystemParamDialog::systemPage_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown");  // text of the box, or "ticked"/"clear"
    QTest::addColumn<int>("stored");

    QTest::newRow("product delay in tenths") << 72 << 25 << "2.5" << 25;
    QTest::newRow("second pulse delay") << 342 << 100 << "10" << 100;
    QTest::newRow("re-checks") << 143 << 3 << "3" << 3;
    QTest::newRow("motion correction off") << 129 << -1 << "clear" << -1;
    QTest::newRow("motion correction on") << 129 << 0 << "ticked" << 0;
    QTest::newRow("semi-automatic 5 stores 1") << 118 << 5 << "ticked" << 1;
}

void TestSystemParamDialog::systemPage()
{
    QFETCH(int, slot);
    QFETCH(int, value);
    QFETCH(QString, shown);
    QFETCH(int, stored);
    Plant plant;
    plant.edit[slot] = value;
    SystemParamDialog dialog;
    SystemParamWidget* page = dialog.systemWgt;
    QString got;
    for (EditBox* box : page->findChildren<EditBox*>()) {
        if ((slot == 72 && box == page->productDelay) || (slot == 342 && box == page->pulseDelay2)
            || (slot == 143 && box == page->reCheck)) {
            got = box->edit->text();
        }
    }
    if (slot == 129) {
        got = page->motionCorrect->isChecked() ? "ticked" : "clear";
    } else if (slot == 118) {
        got = page->semiAuto->isChecked() ? "ticked" : "clear";
    }
    QCOMPARE(got, shown);
    plant.edit[slot] = 12345;
    page->storeParams();
    QCOMPARE(plant.edit[slot], stored);
}

void TestSystemParamDialog::counterReset_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("declined") << 0;
    QTest::newRow("confirmed, apply declined") << 1;
}

void TestSystemParamDialog::counterReset()
{
    QFETCH(int, answer);
    Plant plant;
    RecordingHost host;
    for (int i = 0; i < CounterCameras; ++i) {
        gTotalCount[i] = 10 + i;
        gNgCount[i] = i;
    }
    gTotalCycles = 50;
    gNgCycles = 5;
    SystemParamDialog dialog;
    PromptAnswerer prompts({answer, 0});
    QTest::mouseClick(dialog.systemWgt->resetCount, Qt::LeftButton);
    QCOMPARE(prompts.questions, QStringList{textOf(kTextResetCountQuestion)});
    if (answer == 0) {
        QCOMPARE(gTotalCycles, 50);
        QCOMPARE(gTotalCount[3], 13);
        QVERIFY(host.calls.isEmpty());
        QVERIFY(host.rows.isEmpty());
        return;
    }
    QCOMPARE(host.calls, (QStringList{"publish", "countWrite"}));
    QCOMPARE(host.rows, QStringList{textOf(255)});
    QCOMPARE(m_dir->read(QStringLiteral("count.txt")), countFileText());
    QCOMPARE(countFileText(), QByteArray("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 "));
    // A declined apply does not bring the counts back.
    dialog.systemWgt->productDelay->setValue(plant.live[72] + 1);
    dialog.acceptDialog();
    QCOMPARE(prompts.questions.size(), 2);
    QCOMPARE(gTotalCycles, 0);
    QCOMPARE(gNgCount[7], 0);
}

void TestSystemParamDialog::ioPage()
{
    Plant plant;
    plant.edit[190] = 0;
    plant.edit[191] = 1;
    plant.edit[144] = 15;
    plant.edit[146] = 60;
    SystemParamDialog dialog;
    dialog.show();
    dialog.tabWidget->setCurrentIndex(2);
    InputOutputParamWidget* page = dialog.ioWgt;
    QVERIFY(page->mouldSide->isHidden());
    QCOMPARE(page->boxes[1]->edit->text(), QStringLiteral("1.5"));
    QCOMPARE(page->boxes[0]->edit->text(), QStringLiteral("60"));
    page->machineType->setCurrentIndex(1);
    QVERIFY(!page->mouldSide->isHidden());
    page->machineType->setCurrentIndex(0);
    QVERIFY(page->mouldSide->isHidden());
    page->mouldSide->setCurrentIndex(2);
    page->port->setCurrentIndex(page->port->findText(QStringLiteral("  COM3")));
    page->combos[6]->setCurrentIndex(1);  // output 5 closed
    page->storeParams();
    QCOMPARE(plant.edit[191], 2);  // hidden, stored all the same
    QCOMPARE(plant.edit[181], 2);
    for (int slot = 112; slot <= 117; ++slot) {
        QCOMPARE(plant.edit[slot], 1);
    }
    QCOMPARE(plant.edit[144], 15);
    PromptAnswerer prompts({1});
    RecordingHost host;
    applyOnly(dialog);
    QVERIFY(prompts.warnings.contains(textOf(309)));
}

void TestSystemParamDialog::advancedPage()
{
    Plant plant;
    RecordingHost host;
    plant.edit[138] = 0;
    SystemParamDialog dialog;
    AdvanceParamWidget* page = dialog.advanceWgt;
    EditBox* screenOff = page->boxes[4];
    QCOMPARE(screenOff->edit->text(), QStringLiteral("0"));
    page->storeParams();
    QCOMPARE(plant.edit[138], 0);
    screenOff->setValue(29);
    page->storeParams();
    QCOMPARE(plant.edit[138], 30);
    QVERIFY(QDir(QStringLiteral("paraGroup")).exists());
    // The raw-frame flag takes effect at once, whatever the apply decides.
    page->checks[5]->setChecked(true);
    PromptAnswerer prompts({0});
    dialog.acceptDialog();
    QVERIFY(host.raw);
    QCOMPARE(page->findChildren<QPushButton*>(QRegularExpression(QStringLiteral("^p(CButton|Btn)"))).size(), 10);
}

// The page's list, selection and name field around a backup and a delete,
// over real folders and a real sysadd.txt.
void TestSystemParamDialog::groupsOnTheAdvancedPage()
{
    Plant plant;
    RecordingHost host;
    plant.live.paraGroupIndex() = 0;
    plant.edit.paraGroupIndex() = 0;
    for (const char* folder : {"cammer11", "cammer12", "cammer21", "cammer22", "paraGroup/B", "paraGroup/default"}) {
        QVERIFY(m_dir->write(QString::fromLatin1(folder) + QStringLiteral("/template1.bmp"), folder));
    }
    SystemParamDialog dialog;
    dialog.show();
    AdvanceParamWidget* page = dialog.advanceWgt;
    // Each name with its item data, its position.
    auto items = [page] {
        QStringList names;
        for (int i = 0; i < page->paraGroupList->count(); ++i) {
            names << page->paraGroupList->itemText(i) + QLatin1Char(' ') + page->paraGroupList->itemData(i).toString();
        }
        return names;
    };
    QCOMPARE(items(), (QStringList{"B 0", "default 1"}));
    // While the copy runs nothing of the dialog takes a touch, its OK included.
    QList<bool> enabledWhileBusy;
    connect(page->groupActions, &ParaGroupActions::busyChanged, this,
            [&](bool busy) { enabledWhileBusy << busy << dialog.okButton->isEnabled() << !page->groupBusyBox->isHidden(); });

    page->paraGroupName->setText(QStringLiteral("A"));
    PromptAnswerer prompts({1});
    QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("pCButtonBackup")), Qt::LeftButton);
    // Nothing else was edited: the one question of the backup.
    QCOMPARE(prompts.questions, QStringList{textOf(283)});
    // ... and a box says why.
    QCOMPARE(enabledWhileBusy, (QList<bool>{true, false, true, false, true, false}));
    QStringList saved = QDir(QStringLiteral("paraGroup/A")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    saved.sort();
    QCOMPARE(saved, (QStringList{"PARAM.db", "cammer11", "cammer12", "cammer21", "cammer22"}));
    QCOMPARE(m_dir->read(QStringLiteral("paraGroup/A/cammer21/template1.bmp")), QByteArray("cammer21"));
    QCOMPARE(items(), (QStringList{"A 0", "B 1", "default 2"}));
    QCOMPARE(page->paraGroupList->currentText(), QStringLiteral("A"));
    QCOMPARE(page->paraGroupName->text(), QStringLiteral("A"));
    QCOMPARE(m_dir->read(QStringLiteral("sysadd.txt")), QByteArray("0\n"));
    QCOMPARE(plant.live.paraGroupIndex(), 0);
    QCOMPARE(plant.edit.paraGroupIndex(), 0);

    // Deleting the selected group: the list shows the one that followed it,
    // with its name in the field, and the index says no group is current.
    QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("pCButtonDelete")), Qt::LeftButton);
    QCOMPARE(prompts.questions.last(), textOf(ParaGroupActions::DeleteQuestionText).arg("A"));
    QCOMPARE(items(), (QStringList{"B 0", "default 1"}));
    QCOMPARE(page->paraGroupList->currentText(), QStringLiteral("B"));
    QCOMPARE(page->paraGroupName->text(), QStringLiteral("B"));
    QCOMPARE(m_dir->read(QStringLiteral("sysadd.txt")), QByteArray("-1\n"));
    QCOMPARE(plant.live.paraGroupIndex(), -1);

    // The dialog's OK finds no change in slot 340 that nobody made.
    prompts.questions.clear();
    QTest::mousePress(dialog.okButton, Qt::LeftButton);
    QVERIFY(prompts.questions.isEmpty());
    QCOMPARE(plant.live.paraGroupIndex(), -1);
}

void TestSystemParamDialog::openAndOkAtOnce()
{
    Plant plant;
    RecordingHost host;
    PromptAnswerer prompts;
    const SystemParam before = plant.live;
    {
        SystemParamDialog dialog;
        dialog.show();
        QTest::mousePress(dialog.okButton, Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QVERIFY(prompts.questions.isEmpty());
    QVERIFY(host.rows.isEmpty());
    QVERIFY(plant.live == before);
    QCOMPARE(host.calls, (QStringList{"repaint 0", "repaint 1"}));
}

void TestSystemParamDialog::backgroundPressClosesPad()
{
    Plant plant;
    LogCapture log;
    SystemParamDialog dialog;
    dialog.show();
    auto* pad = new NumberKeyPad;
    pad->setAttribute(Qt::WA_DeleteOnClose);
    gpNumKeyPad = pad;
    pad->show();
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(900, 940));
    QVERIFY(gpNumKeyPad.isNull());
    QVERIFY(log.contains(QStringLiteral("gpNumKeyPad is close")));
}

void TestSystemParamDialog::fixedCaptions_data()
{
    QTest::addColumn<int>("language");
    for (int l = 0; l < LanguageCount; ++l) {
        QTest::newRow(qPrintable(QString::number(l))) << l;
    }
}

void TestSystemParamDialog::fixedCaptions()
{
    QFETCH(int, language);
    Plant plant;
    gLanguage = language;
    SystemParamDialog dialog;
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("labVersion"))->text(), QStringLiteral("17.4.0.18"));
    QStringList titles;
    for (int i = 0; i < dialog.tabWidget->count(); ++i) {
        titles << dialog.tabWidget->tabText(i);
    }
    QCOMPARE(titles, (QStringList{"系统参数", "相机参数", "输入输出", "高级参数", "操作记录"}));
    QCOMPARE(dialog.objectName(), QStringLiteral("systemParamDialog"));
    QCOMPARE(dialog.size(), QSize(1800, 950));
}

void TestSystemParamDialog::powerOff_data()
{
    QTest::addColumn<int>("applyAnswer");
    QTest::addColumn<int>("restartAnswer");
    QTest::addColumn<QString>("operation");
    QTest::newRow("apply confirmed, restart") << 1 << 1 << "reboot";
    QTest::newRow("apply confirmed, power off") << 1 << 0 << "poweroff";
    QTest::newRow("apply declined, restart") << 0 << 1 << "reboot";
    QTest::newRow("apply declined, power off") << 0 << 0 << "poweroff";
    QTest::newRow("power-off question declined") << -1 << -1 << "none";
}

void TestSystemParamDialog::powerOff()
{
    QFETCH(int, applyAnswer);
    QFETCH(int, restartAnswer);
    QFETCH(QString, operation);
    Plant plant;
    RecordingHost host;
    RecordingSystemCommands commands;
    QStringList hooks;
    addQuitHook(QStringLiteral("outputs at rest"), [&] { hooks << "outputs at rest"; });
    SystemParamDialog dialog;
    dialog.show();
    dialog.systemWgt->productDelay->setValue(plant.live[72] + 2);
    const int before = plant.live[72];
    if (operation == QLatin1String("none")) {
        PromptAnswerer prompts({0});
        QTest::mouseClick(dialog.systemWgt->powerOff, Qt::LeftButton);
        QCOMPARE(prompts.questions, QStringList{textOf(291)});
        QVERIFY(commands.operations.isEmpty());
        QVERIFY(commands.exits.isEmpty());
        QVERIFY(host.rows.isEmpty());
        QCOMPARE(plant.live[72], before);
        QVERIFY(dialog.isVisible());
        runQuitHooks();
        return;
    }
    PromptAnswerer prompts({1, applyAnswer, restartAnswer});
    QTest::mouseClick(dialog.systemWgt->powerOff, Qt::LeftButton);
    QCOMPARE(prompts.questions, (QStringList{textOf(291), textOf(234), textOf(293)}));
    QCOMPARE(plant.live[72], applyAnswer == 1 ? before + 2 : before);
    QCOMPARE(plant.stored()[72], plant.live[72]);
    QCOMPARE(host.rows.last(), textOf(292));
    QCOMPARE(host.calls.filter(QStringLiteral("flushAll")).size(), 1);
    QCOMPARE(commands.operations.size(), 1);
    QCOMPARE(commands.operations[0], operation == QLatin1String("reboot") ? SystemOperation::reboot()
                                                                           : SystemOperation::powerOff());
    QCOMPARE(hooks, QStringList{"outputs at rest"});
    QCOMPARE(commands.exits, QList<int>{0});
    QVERIFY(!dialog.isVisible());
}

void TestSystemParamDialog::recordPage()
{
    Plant plant;
    RecordingHost host;
    OperationLog log;
    QVERIFY(OperationLog::createRecordDB());
    QVERIFY(log.open());
    QDir().mkpath(OperationLog::archiveDir());
    for (const QString& day : {QStringLiteral("2024-05-01"), QStringLiteral("2024-05-03")}) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("archive"));
        db.setDatabaseName(OperationLog::archiveDir() + QStringLiteral("/") + day + QStringLiteral(".db"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE RECORD(time VARCHAR(32), level VARCHAR(32), remarks VARCHAR(1024))")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO RECORD VALUES('%1 08:00:00', 'op', 'archived %1')").arg(day)));
        q.clear();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("archive"));
    }
    QVERIFY(log.insertRecord(QStringLiteral("older"), 1));
    plant.edit[72] = plant.live[72] + 1;
    SystemParamDialog dialog;
    // The confirmed change sentence goes into today's table through the window.
    {
        PromptAnswerer prompts({1});
        applyOnly(dialog);
    }
    QCOMPARE(host.rows.size(), 1);
    QTest::qWait(1100);  // the table's time has whole seconds
    QVERIFY(log.insertRecord(host.rows[0], 1));

    dialog.show();
    dialog.tabWidget->setCurrentIndex(4);
    RecordWidget* page = dialog.recordWgt;
    QStringList days;
    for (int i = 0; i < page->dayList->count(); ++i) {
        days << page->dayList->item(i)->text();
    }
    QCOMPARE(days, (QStringList{QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")), "2024-05-03", "2024-05-01"}));
    QVERIFY(page->model->rowCount() >= 2);
    QCOMPARE(page->model->index(0, 2).data().toString(), host.rows[0]);

    page->dayList->setCurrentRow(1);
    page->UpdateRecord(page->dayList->item(1));
    QCOMPARE(page->model->rowCount(), 1);
    QCOMPARE(page->model->index(0, 2).data().toString(), QStringLiteral("archived 2024-05-03"));

    // A day removed after the list was made: an empty table, and no file made.
    const QString gone = OperationLog::archiveDir() + QStringLiteral("/2024-05-01.db");
    QVERIFY(QFile::remove(gone));
    page->dayList->setCurrentRow(2);
    page->UpdateRecord(page->dayList->item(2));
    QCOMPARE(page->model->rowCount(), 0);
    QVERIFY(!QFile::exists(gone));
}

QTEST_MAIN(TestSystemParamDialog)
#include "tst_systemparamdialog.moc"
