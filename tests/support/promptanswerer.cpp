#include "promptanswerer.h"

PromptAnswerer::PromptAnswerer(QList<int> answers)
    : m_answers(std::move(answers))
{
    m_previousWarn = setWarnOperatorHandler([this](const QString& message) { warnings.append(message); });
    m_previousAsk = setAskOperatorHandler([this](const QString& question, int) {
        questions.append(question);
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
}
