#include "promptanswerer.h"

#include "texttable.h"

#include <QRegularExpression>
#include <QtTest>

bool isTableText(const QString& text, int language)
{
    if (text.isEmpty() || language < 0 || language >= LanguageCount) {
        return false;
    }
    // A caption asked as a question ("重置参数" followed by "?") reads as the caption.
    if (text.size() > 1 && text.endsWith(QLatin1Char('?')) && isTableText(text.chopped(1), language)) {
        return true;
    }
    static const QRegularExpression placeholder(QStringLiteral("%[1-9][0-9]?"));
    for (int n = 0; n < TextCount; ++n) {
        const QString& entry = gTextTable[LanguageCount * n + language];
        if (entry.isEmpty()) {
            continue;
        }
        if (entry == text) {
            return true;
        }
        if (entry.contains(placeholder)) {
            // Every placeholder stands for any text; the rest must match as is.
            // Entries that are little more than a placeholder ("%1", "%1#")
            // are number formats, not messages, and would match anything.
            if (QString(entry).remove(placeholder).trimmed().size() < 2) {
                continue;
            }
            QString pattern;
            int from = 0;
            QRegularExpressionMatchIterator it = placeholder.globalMatch(entry);
            while (it.hasNext()) {
                const QRegularExpressionMatch m = it.next();
                pattern += QRegularExpression::escape(entry.mid(from, m.capturedStart() - from));
                pattern += QStringLiteral(".*");
                from = m.capturedEnd();
            }
            pattern += QRegularExpression::escape(entry.mid(from));
            const QRegularExpression filled(QRegularExpression::anchoredPattern(pattern),
                                            QRegularExpression::DotMatchesEverythingOption);
            if (filled.match(text).hasMatch()) {
                return true;
            }
        }
    }
    return false;
}

PromptAnswerer::PromptAnswerer(QList<int> answers)
    : m_answers(std::move(answers))
{
    m_previousWarn = setWarnOperatorHandler([this](const QString& message) {
        warnings.append(message);
        check(message);
    });
    m_previousAsk = setAskOperatorHandler([this](const QString& question, int) {
        questions.append(question);
        check(question);
        if (m_answers.isEmpty()) {
            return 1;
        }
        return m_answers.size() > 1 ? m_answers.takeFirst() : m_answers.first();
    });
    m_previousEntry = setPasswordEntryHandler([this](QString& entry) {
        if (passwordEntries.isEmpty()) {
            return false;
        }
        entry = passwordEntries.takeFirst();
        typedPasswords.append(entry);
        return true;
    });
}

PromptAnswerer::~PromptAnswerer()
{
    setWarnOperatorHandler(std::move(m_previousWarn));
    setAskOperatorHandler(std::move(m_previousAsk));
    setPasswordEntryHandler(std::move(m_previousEntry));
    if (foreignTexts.isEmpty()) {
        return;
    }
    const QString report = QStringLiteral("shown to the operator, not a text of the table in its language: ")
        + foreignTexts.join(QStringLiteral(" | "));
    if (QTest::currentTestFunction()) {
        QTest::qFail(qPrintable(report), __FILE__, __LINE__);
    } else {
        // Outside any test function nothing can fail but the program.
        qFatal("%s", qPrintable(report));
    }
}

void PromptAnswerer::check(const QString& text)
{
    if (!isTableText(text, gLanguage)) {
        foreignTexts.append(QStringLiteral("[language %1] \"%2\"").arg(gLanguage).arg(text));
    }
}
