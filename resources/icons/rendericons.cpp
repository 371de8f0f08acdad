// Renders our SVG icons to PNG at their drawn size.
// Usage: rendericons <output folder> <icon.svg>...
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <output folder> <icon.svg>...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const QString source = QString::fromLocal8Bit(argv[i]);
        QSvgRenderer renderer(source);
        if (!renderer.isValid()) {
            std::fprintf(stderr, "not an SVG picture: %s\n", argv[i]);
            return 1;
        }
        QImage image(renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString target = out + QLatin1Char('/') + QFileInfo(source).completeBaseName() + QStringLiteral(".png");
        if (!image.save(target, "PNG")) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}
