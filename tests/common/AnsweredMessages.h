#pragma once

#include "UserMessages.h"

#include <QStringList>

// For tests: records every message box ("title|text") instead of showing it, answers
// questions with `answer`, and is installed for its lifetime.
class AnsweredMessages : public UserMessages
{
public:
    explicit AnsweredMessages(bool answer = true)
        : m_answer(answer)
    {
        install(this);
    }
    ~AnsweredMessages() override { install(nullptr); }

    void information(const QString &title, const QString &text) override
    {
        shown << title + QLatin1Char('|') + text;
    }
    bool question(const QString &title, const QString &text) override
    {
        shown << title + QLatin1Char('|') + text;
        return m_answer;
    }

    QStringList shown;

private:
    bool m_answer;
};
