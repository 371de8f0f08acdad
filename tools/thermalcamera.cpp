// Serves a REST thermal camera on a loopback address until it is stopped:
//
//   thermalcamera [-m] [address [rest-port [stream-port [width height [interval-ms]]]]]
//
// -m: the measured temperatures follow a mould warming and cooling slowly
// around 50 degrees (otherwise every measurement reads 25 degrees).
// Defaults: 127.0.1.100, ports 10080 and 10081, 384 x 288, a frame every 40 ms.
// The first candidate address that the program probes in a development build
// is 127.0.1.100, so a monitor started on the same machine finds it.
#include "loopbackthermalcamera.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

// Measurement labels the monitor registers: "P<n>" points and "R<n>" regions.
constexpr int kLabels = 50;

void publishMouldTemperature(LoopbackThermalCamera& camera, double seconds)
{
    const double base = 50.0 + 6.0 * std::sin(seconds * 2.0 * M_PI / 180.0);
    for (int n = 0; n < kLabels; ++n) {
        const double t = base + QRandomGenerator::global()->bounded(0.6) - 0.3;
        const QByteArray point = "{\"t\":" + QByteArray::number(t, 'f', 1) + "}";
        camera.setObjectValue(QStringLiteral("points/P%1").arg(n), point);
        const QByteArray region = "{\"avg\":" + point + ",\"max\":{\"t\":" + QByteArray::number(t + 4.0, 'f', 1)
                                  + "},\"min\":{\"t\":" + QByteArray::number(t - 5.0, 'f', 1) + "}}";
        camera.setObjectValue(QStringLiteral("regions/R%1").arg(n), region);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool mould = !args.isEmpty() && args.first() == QLatin1String("-m");
    if (mould) {
        args.removeFirst();
    }
    const QString address = args.value(0, QStringLiteral("127.0.1.100"));
    bool ok = true;
    auto number = [&](int i, int fallback) {
        if (i >= args.size()) {
            return fallback;
        }
        bool good = false;
        const int v = args.at(i).toInt(&good);
        ok = ok && good;
        return v;
    };
    const int restPort = number(1, 10080);
    const int streamPort = number(2, 10081);
    const int width = number(3, 384);
    const int height = number(4, 288);
    const int interval = number(5, 40);
    QHostAddress host;
    if (!ok || !host.setAddress(address) || !host.isLoopback() || restPort <= 0 || restPort > 65535
        || streamPort <= 0 || streamPort > 65535 || width < 1 || height < 1 || interval < 0) {
        std::fprintf(stderr,
                     "usage: thermalcamera [-m] [loopback-address [rest-port [stream-port [width height [interval-ms]]]]]\n");
        return 2;
    }
    LoopbackThermalCamera camera(address);
    camera.setSize(width, height);
    camera.setFrameInterval(interval);
    if (!camera.start(quint16(restPort), quint16(streamPort))) {
        std::fprintf(stderr, "thermalcamera: cannot listen on %s:%d and %d\n", qPrintable(address), restPort,
                     streamPort);
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    QTimer warming;
    if (mould) {
        publishMouldTemperature(camera, 0);
        QObject::connect(&warming, &QTimer::timeout, [&] { publishMouldTemperature(camera, clock.elapsed() / 1000.0); });
        warming.start(1000);
    }
    std::printf("thermal camera on %s: HTTP port %u, stream port %u, %d x %d\n", qPrintable(address),
                unsigned(camera.restPort()), unsigned(camera.streamPort()), width, height);
    std::fflush(stdout);
    return app.exec();
}
