#include "translations.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <vector>

// Resources of a static library are only registered on request, and
// Q_INIT_RESOURCE must be expanded outside any namespace.
static void registerTranslationResource()
{
    Q_INIT_RESOURCE(translations);
}

namespace {

const char* const kLocaleNames[] = {"zh_CN", "en", "zh_TW", "ja"};

// The translators this module installed; replaced as a whole on every call.
std::vector<std::unique_ptr<QTranslator>>& installed()
{
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

int checkedLanguage(int language)
{
    return language >= 0 && language < 4 ? language : 0;
}

} // namespace

QLocale localeOfLanguage(int language)
{
    return QLocale(QString::fromLatin1(kLocaleNames[checkedLanguage(language)]));
}

QString captionTranslationFile(int language)
{
    language = checkedLanguage(language);
    if (language == 0) {
        return QString();
    }
    return QStringLiteral(":/translations/korvane_%1.qm").arg(QLatin1String(kLocaleNames[language]));
}

bool installTranslations(int language)
{
    registerTranslationResource();
    language = checkedLanguage(language);
    for (auto& translator : installed()) {
        QCoreApplication::removeTranslator(translator.get());
    }
    installed().clear();

    const QLocale locale = localeOfLanguage(language);
    QLocale::setDefault(locale);

    bool ok = true;
    const QString own = captionTranslationFile(language);
    if (!own.isEmpty()) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(own)) {
            QCoreApplication::installTranslator(translator.get());
            installed().push_back(std::move(translator));
        } else {
            qWarning() << "translations: the captions of" << locale.name() << "are missing; they stay Chinese";
            ok = false;
        }
    }
    // Qt's own texts (dialog buttons, the file chooser). Their absence leaves
    // them in English, which is no reason to stop.
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        installed().push_back(std::move(qt));
    } else if (language != 1) {
        qWarning() << "translations: Qt's own texts for" << locale.name() << "are not installed";
    }
    return ok;
}

namespace {

bool isKatakana(QChar c)
{
    // The katakana block with its prolonged sound mark, and the half-width forms.
    const ushort u = c.unicode();
    return (u >= 0x30A0 && u <= 0x30FF) || (u >= 0xFF66 && u <= 0xFF9F);
}

} // namespace

QString keepKatakanaWordsWhole(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 4);
    for (int i = 0; i < text.size(); ++i) {
        if (i > 0 && isKatakana(text.at(i - 1)) && isKatakana(text.at(i))) {
            out += QChar(0x2060);
        }
        out += text.at(i);
    }
    return out;
}
