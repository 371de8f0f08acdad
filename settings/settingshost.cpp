#include "settingshost.h"

#include "hostregistry.h"

#include <QDebug>

namespace {

class NoHost : public SettingsHost {
public:
    void insertRecord(const QString& text) override { qInfo().noquote() << "operation log (no window):" << text; }
    void publishCounters() override {}
    void countWrite() override {}
    void flushAll() override {}
    void restartCameras() override {}
    int curSide() const override { return m_side; }
    void setCurSide(int side) override { m_side = side; }
    bool saveOriginalImages() const override { return m_raw; }
    void setSaveOriginalImages(bool on) override { m_raw = on; }
    QString recordConnectionName() const override { return QStringLiteral("dbRecord"); }
    void pushLiveCameraSetting(int, CameraSetting) override {}
    void setTriggerMode(int, int) override {}
    void copyParaAndSave(int) override {}
    void trainLocate(int, int) override {}
    void trainAlign(int, int) override {}
    void trainModels(int, int) override {}
    void repaintStation(int) override {}

private:
    int m_side = 0;
    bool m_raw = false;
};

HostRegistry<SettingsHost> gHost;

} // namespace

SettingsHost* settingsHost()
{
    static NoHost none;
    return gHost.getOr(&none);
}

void setSettingsHost(SettingsHost* host)
{
    gHost.set(host);
}

void clearSettingsHost(SettingsHost* host)
{
    gHost.clear(host);
}
