#include "kithost.h"

#include "edit.h"
#include "globals.h"
#include "hostregistry.h"

#include <QPoint>
#include <QPointer>
#include <QSize>

#include <algorithm>

namespace {

class OwnHost : public KitHost {
public:
    Edit* servedEdit() const override { return m_edit; }
    void setServedEdit(Edit* edit) override { m_edit = edit; }

private:
    QPointer<Edit> m_edit;
};

HostRegistry<KitHost> gHost;

} // namespace

KitHost* kitHost()
{
    static OwnHost own;
    return gHost.getOr(&own);
}

void setKitHost(KitHost* host)
{
    gHost.set(host);
}

void clearKitHost(KitHost* host)
{
    gHost.clear(host);
}

QPoint placeOnScreen(const QPoint& wanted, const QSize& size)
{
    auto fit = [](int pos, int length, int screen) {
        if (pos + length > screen) {
            pos = screen - length;
        }
        return std::max(pos, 0);
    };
    return QPoint(fit(wanted.x(), size.width(), gScreenWidth), fit(wanted.y(), size.height(), gScreenHeight));
}
