#include "texttable.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QString gTextTable[TextTableSize];
int gLanguage = 0;

namespace {

// The texts live in one UTF-8 JSON file, compiled into the core library:
// [{"id": n, "zh": ..., "en": ..., "tw": ..., "ja": ...}, ...]. A language
// missing from an object stays empty, as do the numbers the file leaves out.
const char* const kLanguageKeys[LanguageCount] = {"zh", "en", "tw", "ja"};

} // namespace

// Resources of a static library are only registered on request, and
// Q_INIT_RESOURCE must be expanded outside any namespace.
static void registerTextResource()
{
    Q_INIT_RESOURCE(texts);
}

void initTextTable()
{
    registerTextResource();

    QFile file(QStringLiteral(":/texts/texts.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical() << "text table: the compiled-in text data is missing";
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        qCritical() << "text table: the text data is not readable:" << error.errorString();
        return;
    }

    for (const QJsonValue& value : document.array()) {
        const QJsonObject text = value.toObject();
        const int id = text.value(QStringLiteral("id")).toInt(-1);
        // An entry is only ever written at its own text's index.
        if (id < 0 || id >= TextCount) {
            qWarning() << "text table: ignoring text number" << text.value(QStringLiteral("id"));
            continue;
        }
        for (int language = 0; language < LanguageCount; ++language)
            gTextTable[LanguageCount * id + language] =
                text.value(QLatin1String(kLanguageKeys[language])).toString();
    }
}

QString textOf(int textId)
{
    if (textId < 0 || textId >= TextCount || gLanguage < 0 || gLanguage >= LanguageCount)
        return {};
    return gTextTable[LanguageCount * textId + gLanguage];
}
