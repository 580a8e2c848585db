#include "app/webpasswordcommand.h"

#include <cstdio>

#include <termios.h>
#include <unistd.h>

#include <QTextStream>

#include "web/webpassword.h"

namespace {

// Turns the terminal's echo off while it lives; nothing when input is no terminal.
class HiddenInput
{
public:
    HiddenInput()
    {
        if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        m_hidden = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        if (m_hidden)
            std::fprintf(stderr, "Password for the web page: ");
    }
    ~HiddenInput()
    {
        if (!m_hidden)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
        std::fprintf(stderr, "\n");
    }
    HiddenInput(const HiddenInput &) = delete;
    HiddenInput &operator=(const HiddenInput &) = delete;

private:
    termios m_saved{};
    bool m_hidden = false;
};

QString readPassword()
{
    const HiddenInput hidden;
    return QTextStream(stdin).readLine();
}

} // namespace

int runSetWebPassword()
{
    const QString password = readPassword();
    if (password.size() < 8) {
        std::fprintf(stderr, "skyvane: type the web page's password, of 8 characters or more, "
                             "on one line of standard input.\n");
        return 1;
    }
    if (const QString failure = WebPassword::store(password.toUtf8()); !failure.isEmpty()) {
        std::fprintf(stderr, "skyvane: the password is not set: %s.\n", qUtf8Printable(failure));
        return 1;
    }
    std::printf("The web page's password is set; restart a running headless Skyvane to use it.\n");
    return 0;
}
