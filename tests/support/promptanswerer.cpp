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
}

PromptAnswerer::~PromptAnswerer()
{
    setWarnOperatorHandler(std::move(m_previousWarn));
    setAskOperatorHandler(std::move(m_previousAsk));
}
