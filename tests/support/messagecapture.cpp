#include "messagecapture.h"

#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex gMutex;
std::vector<std::pair<QtMsgType, QString>> gMessages;

void record(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gMessages.emplace_back(type, message);
}

} // namespace

MessageCapture::MessageCapture()
{
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gMessages.clear();
    }
    previous = qInstallMessageHandler(record);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous);
}

QStringList MessageCapture::messages() const
{
    std::lock_guard<std::mutex> lock(gMutex);
    QStringList list;
    for (const auto& m : gMessages) {
        list << m.second;
    }
    return list;
}

int MessageCapture::count(QtMsgType type, const QRegularExpression& pattern) const
{
    std::lock_guard<std::mutex> lock(gMutex);
    int n = 0;
    for (const auto& m : gMessages) {
        n += m.first == type && pattern.match(m.second).hasMatch() ? 1 : 0;
    }
    return n;
}
