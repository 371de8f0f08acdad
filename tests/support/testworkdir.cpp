#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TestWorkDir::TestWorkDir()
    : m_dir(QDir::tempPath() + QStringLiteral("/korvane-test-XXXXXX"))
    , m_previous(QDir::currentPath())
{
    if (m_dir.isValid()) {
        QDir::setCurrent(m_dir.path());
    }
}

TestWorkDir::~TestWorkDir()
{
    QDir::setCurrent(m_previous);
}

bool TestWorkDir::write(const QString& name, const QByteArray& content) const
{
    const QString path = filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray TestWorkDir::read(const QString& name) const
{
    QFile file(filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
