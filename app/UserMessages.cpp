#include "UserMessages.h"

#include <cstdio>

namespace {
// Where no window is: say it on standard output, so that nothing is silently lost.
class PrintedMessages : public UserMessages
{
public:
    void information(const QString &title, const QString &text) override
    {
        std::printf("%s: %s\n", qPrintable(title.trimmed()), qPrintable(text));
        std::fflush(stdout);
    }
    bool question(const QString &title, const QString &text) override
    {
        information(title, text);
        return false;
    }
};

PrintedMessages g_printed;
UserMessages *g_installed = nullptr;
} // namespace

UserMessages &UserMessages::instance()
{
    return g_installed ? *g_installed : g_printed;
}

bool UserMessages::installed()
{
    return g_installed != nullptr;
}

void UserMessages::install(UserMessages *messages)
{
    g_installed = messages;
}
