#include "tokens/EscPosPrinter.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tallyvo {

namespace {

speed_t speedFor(int baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A reader that goes away mid-ticket raises SIGPIPE, which would end the whole station: it is
// held back on this thread while writing and the pending one, if any, is taken before going on.
class SigPipeGuard {
public:
    SigPipeGuard()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~SigPipeGuard()
    {
        if (!m_wasPending) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec none{0, 0};
                sigtimedwait(&m_pipe, nullptr, &none);
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigPipeGuard(const SigPipeGuard&) = delete;
    SigPipeGuard& operator=(const SigPipeGuard&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_wasPending = false;
};

} // namespace

bool EscPosPrinter::isEscPos(const QString& name)
{
    return name.trimmed().startsWith(QLatin1String("escpos:"), Qt::CaseInsensitive);
}

EscPosPrinter::EscPosPrinter(const QString& name)
    : m_name(name.trimmed())
{
    const QUrl url(m_name, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("escpos"), Qt::CaseInsensitive) != 0) {
        m_error = tr("%1 is not a printer name: use escpos://HOST[:PORT] or escpos:///dev/DEVICE").arg(m_name);
        return;
    }
    m_host = url.host();
    if (!m_host.isEmpty()) {
        if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
            m_error = tr("%1: a network printer is named by its host and port only").arg(m_name);
        m_port = url.port(kDefaultPort);
        if (m_port <= 0 || m_port > 65535)
            m_error = tr("%1: the port must be between 1 and 65535").arg(m_name);
        return;
    }
    m_device = url.path();
    if (!m_device.startsWith(QLatin1Char('/')) || m_device.size() < 2) {
        m_error = tr("%1 names no printer: use escpos://HOST[:PORT] or escpos:///dev/DEVICE").arg(m_name);
        return;
    }
    const QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("baud"))) {
        m_baud = query.queryItemValue(QStringLiteral("baud")).toInt();
        if (speedFor(m_baud) == B0)
            m_error = tr("%1: the baud rate must be 9600, 19200, 38400, 57600 or 115200").arg(m_name);
    }
}

QStringList EscPosPrinter::deviceNames(const QString& devRoot)
{
    QStringList names;
    const auto add = [&names](const QDir& dir, const QStringList& patterns) {
        const QFileInfoList found = dir.entryInfoList(patterns, QDir::System | QDir::Files | QDir::NoDotAndDotDot,
                                                      QDir::Name);
        for (const QFileInfo& f : found)
            names << QStringLiteral("escpos://") + f.absoluteFilePath();
    };
    const QDir dev(devRoot);
    add(QDir(dev.filePath(QStringLiteral("usb"))), {QStringLiteral("lp*")});
    add(dev, {QStringLiteral("lp[0-9]*"), QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")});
    return names;
}

QString EscPosPrinter::seconds() const
{
    return QString::number(m_timeoutMs / 1000.0, 'g', 3);
}

bool EscPosPrinter::send(const QByteArray& data, QString* error)
{
    m_timedOut = false;
    if (!isValid()) {
        if (error)
            *error = m_error;
        return false;
    }
    return isNetwork() ? sendNetwork(data, error) : sendDevice(data, error);
}

bool EscPosPrinter::sendNetwork(const QByteArray& data, QString* error)
{
    QTcpSocket socket;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    qint64 written = 0;
    QString failure;

    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        m_timedOut = true;
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] {
        socket.write(data);
        // Closes once everything written has gone out.
        socket.disconnectFromHost();
    });
    QObject::connect(&socket, &QTcpSocket::bytesWritten, &loop, [&](qint64 n) { written += n; });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError) {
        if (failure.isEmpty())
            failure = socket.errorString();
        loop.quit();
    });

    deadline.start(m_timeoutMs);
    socket.connectToHost(m_host, quint16(m_port));
    // The station's window keeps drawing meanwhile; no touch reaches it until the printer has
    // answered or the time is up.
    if (failure.isEmpty())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    socket.abort();

    // A printer may close the connection as soon as it has the ticket: what counts is that
    // every byte went out in time.
    if (!m_timedOut && written >= data.size())
        return true;
    if (error) {
        if (m_timedOut)
            *error = tr("the printer %1 did not answer within %2 s").arg(m_name, seconds());
        else
            *error = tr("the printer %1 could not be reached: %2").arg(m_name, failure);
    }
    return false;
}

bool EscPosPrinter::sendDevice(const QByteArray& data, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QByteArray path = QFile::encodeName(m_device);
    // Non-blocking: a FIFO nobody reads, or a port waiting for its carrier, must not hold the
    // station at open().
    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_APPEND);
    if (fd < 0) {
        const int code = errno;
        if (code == ENOENT)
            return fail(tr("there is no printer at %1 (unplugged or switched off?)").arg(m_device));
        if (code == ENXIO)
            return fail(tr("nothing is connected at %1").arg(m_device));
        return fail(tr("the printer %1 cannot be opened: %2").arg(m_device, systemError(code)));
    }
    if (::isatty(fd) && m_baud > 0) {
        termios tio{};
        if (::tcgetattr(fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, speedFor(m_baud));
            ::cfsetospeed(&tio, speedFor(m_baud));
            tio.c_cflag |= CLOCAL | CREAD;
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }

    const SigPipeGuard guard;
    const QDeadlineTimer deadline(m_timeoutMs);
    qsizetype done = 0;
    QString why;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, std::size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        const int code = n < 0 ? errno : EAGAIN;
        if (code == EINTR)
            continue;
        if (code != EAGAIN && code != EWOULDBLOCK) {
            why = code == EPIPE ? tr("the printer %1 stopped reading the ticket").arg(m_device)
                                : tr("the printer %1 refused the ticket: %2").arg(m_device, systemError(code));
            break;
        }
        // Full: wait until it takes more, or the time is up.
        pollfd p{fd, POLLOUT, 0};
        const int left = int(deadline.remainingTime());
        const int ready = left > 0 ? ::poll(&p, 1, left) : 0;
        if (ready == 0) {
            m_timedOut = true;
            why = tr("the printer %1 did not take the ticket within %2 s").arg(m_device, seconds());
            break;
        }
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP)) && !(p.revents & POLLOUT)) {
            why = tr("the printer %1 stopped reading the ticket").arg(m_device);
            break;
        }
    }
    ::close(fd);
    return why.isEmpty() ? true : fail(why);
}

} // namespace tallyvo
