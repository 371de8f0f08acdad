#include "hostregistry.h"

#include <QtTest>

class TestHostRegistry : public QObject {
    Q_OBJECT

private slots:
    void clearsOnlyItsOwnRegistration();
};

void TestHostRegistry::clearsOnlyItsOwnRegistration()
{
    static HostRegistry<int> registry;
    int fallback = 0;
    int first = 1;
    int second = 2;

    QCOMPARE(registry.get(), nullptr);
    QCOMPARE(registry.getOr(&fallback), &fallback);

    registry.set(&first);
    QCOMPARE(registry.getOr(&fallback), &first);
    // A newer one takes over; the older one going away leaves it registered.
    registry.set(&second);
    registry.clear(&first);
    QCOMPARE(registry.get(), &second);
    registry.clear(&second);
    QCOMPARE(registry.get(), nullptr);
    QCOMPARE(registry.getOr(&fallback), &fallback);
}

QTEST_APPLESS_MAIN(TestHostRegistry)
#include "tst_hostregistry.moc"
