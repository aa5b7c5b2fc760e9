#include "PasswordInput.h"

#include "core/PasswordChecksum.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace termsetcli {

SecretBytes::~SecretBytes() { wipe(m_bytes); }

void wipe(QByteArray& bytes)
{
    if (!bytes.isEmpty())
        ::explicit_bzero(bytes.data(), static_cast<std::size_t>(bytes.size()));
    bytes.clear();
}

void wipe(QString& text)
{
    if (!text.isEmpty())
        ::explicit_bzero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}

// ---------------------------------------------------------------- file

PasswordFileRead readPasswordFile(const QString& path, SecretBytes& line)
{
    PasswordFileRead result;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    // The mode of the file that is read, not of whatever the name points at later.
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        result.exposed = (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
    // The first line is all that counts; a password is far shorter.
    std::array<char, 4096> buffer{};
    std::size_t filled = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result.error = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        filled += static_cast<std::size_t>(got);
        if (got == 0 || filled == buffer.size() || std::memchr(buffer.data(), '\n', filled))
            break;
    }
    ::close(fd);
    if (result.error.isEmpty()) {
        std::size_t end = 0;
        while (end < filled && buffer[end] != '\n' && buffer[end] != '\r')
            ++end;
        line.bytes() = QByteArray(buffer.data(), static_cast<qsizetype>(end));
        result.ok = true;
    }
    ::explicit_bzero(buffer.data(), buffer.size());
    return result;
}

// ---------------------------------------------------------------- terminal

namespace {

// The terminal's settings before the echo was switched off, for the signal
// handler (tcsetattr may be called from one).
termios g_savedTerminal {};
volatile std::sig_atomic_t g_echoOff = 0;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void restoreAndEnd(int signal)
{
    if (g_echoOff) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, "\n", 1);
    }
    // End as the signal would have ended the program.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// While it lives, the echo is off and the ending signals restore it first.
class EchoOff {
public:
    EchoOff()
    {
        if (::tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0)
            return;
        struct sigaction action {};
        action.sa_handler = restoreAndEnd;
        sigemptyset(&action.sa_mask);
        for (const int s : kEndingSignals)
            sigaddset(&action.sa_mask, s);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &action, &m_old[i]);
        termios silent = g_savedTerminal;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        g_echoOff = 1;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
        m_active = true;
    }
    ~EchoOff()
    {
        if (!m_active)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        g_echoOff = 0;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &m_old[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    bool m_active = false;
    struct sigaction m_old[std::size(kEndingSignals)] {};
};

} // namespace

bool readHiddenLine(const QString& prompt, SecretBytes& line)
{
    const QByteArray p = prompt.toLocal8Bit();
    std::fputs(p.constData(), stderr);
    std::fflush(stderr);
    QByteArray& typed = line.bytes();
    wipe(typed);
    // Room for any password, so that the bytes are never moved (and left
    // behind) by a growing buffer.
    typed.reserve(1024);
    bool complete = false;
    {
        EchoOff echoOff;
        for (;;) {
            char c = 0;
            const ssize_t n = ::read(STDIN_FILENO, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;   // end of input
            if (c == '\n') {
                complete = true;
                break;
            }
            if (typed.size() < typed.capacity())
                typed += c;
        }
    }
    std::fputs("\n", stderr);
    if (typed.endsWith('\r'))
        typed.chop(1);
    return complete || !typed.isEmpty();
}

bool matchesChecksum(const SecretBytes& password, bool utf8, int storedChecksum)
{
    QString text = utf8 ? QString::fromUtf8(password.bytes()) : QString::fromLocal8Bit(password.bytes());
    const bool matches = password::unlocks(text, storedChecksum);
    wipe(text);
    return matches;
}

} // namespace termsetcli
