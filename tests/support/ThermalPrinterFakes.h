#pragma once

#include "tokens/EscPos.h"

#include <QByteArray>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QString>
#include <QVector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tallyvo::test {

// What a thermal printer would make of a byte stream: one Printed per ticket (each starts with
// the reset ESC @), its lines as printed, and how it ended. A command it does not know is
// reported in `unknown`, so a test sees a stray control byte reaching the printer.
struct PrintedLine {
    QString text;
    bool bold = false;
    bool large = false;   // double width and height
    bool centred = false;
    int image = -1;       // a raster image (GS v 0): its index in Printed::images
};

struct Printed {
    QVector<PrintedLine> lines;
    int codePage = -1;
    int feedAfter = 0;    // lines fed by ESC d after the last text
    bool partialCut = false;
    bool fullCut = false;
    QString unknown;
    QVector<QImage> images; // raster images as printed: black dots on white

    // The first raster image printed after the line that reads `text`, or a null image.
    QImage imageAfter(const QString& text) const
    {
        bool seen = false;
        for (const PrintedLine& l : lines) {
            seen = seen || l.text == text;
            if (seen && l.image >= 0)
                return images.value(l.image);
        }
        return {};
    }

    // The lines that carry text, in order.
    QStringList texts() const
    {
        QStringList out;
        for (const PrintedLine& l : lines)
            if (!l.text.isEmpty())
                out << l.text;
        return out;
    }
    const PrintedLine* find(const QString& text) const
    {
        for (const PrintedLine& l : lines)
            if (l.text == text)
                return &l;
        return nullptr;
    }
};

inline QVector<Printed> readEscPos(const QByteArray& data)
{
    QVector<Printed> out;
    bool bold = false;
    bool large = false;
    bool centred = false;
    QByteArray text;
    auto current = [&out]() -> Printed& {
        if (out.isEmpty())
            out.append(Printed());
        return out.last();
    };
    auto arg = [&data](qsizetype i) { return i < data.size() ? static_cast<unsigned char>(data[i]) : 0x100; };
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == 0x1b) {
            const int cmd = arg(i + 1);
            const int n = arg(i + 2);
            if (cmd == '@') {
                out.append(Printed());
                bold = large = centred = false;
                i += 1;
                continue;
            }
            i += 2;
            switch (cmd) {
            case 't':
                current().codePage = n;
                break;
            case 'a':
                centred = n == 1 || n == '1';
                break;
            case 'E':
                bold = (n & 1) != 0;
                break;
            case 'd':
                current().feedAfter += n;
                break;
            default:
                current().unknown += QStringLiteral("ESC %1 ").arg(cmd);
            }
        } else if (c == 0x1d) {
            const int cmd = arg(i + 1);
            const int n = arg(i + 2);
            i += 2;
            if (cmd == 'v' && n == '0') {
                // GS v 0 m xL xH yL yH, then the rows: width in bytes, height in dots.
                const int widthBytes = arg(i + 2) | (arg(i + 3) << 8);
                const int height = arg(i + 4) | (arg(i + 5) << 8);
                const qsizetype start = i + 6;
                if (arg(i + 1) > 3 || start + qsizetype(widthBytes) * height > data.size()) {
                    current().unknown += QStringLiteral("GS v 0 cut short ");
                    break;
                }
                QImage image(widthBytes * 8, height, QImage::Format_Grayscale8);
                for (int y = 0; y < height; ++y) {
                    uchar* row = image.scanLine(y);
                    for (int x = 0; x < widthBytes * 8; ++x) {
                        const auto byte = static_cast<unsigned char>(data[start + y * widthBytes + x / 8]);
                        row[x] = (byte & (0x80 >> (x % 8))) ? 0 : 255;
                    }
                }
                PrintedLine line;
                line.centred = centred;
                line.image = int(current().images.size());
                current().images.append(image);
                current().lines.append(line);
                i = start + qsizetype(widthBytes) * height - 1;
            } else if (cmd == '!') {
                large = n == 0x11;
            } else if (cmd == 'V') {
                if (n == 1 || n == '1' || n == 66) {
                    current().partialCut = true;
                } else {
                    current().fullCut = true;
                }
                if (n == 65 || n == 66)
                    ++i;
            } else {
                current().unknown += QStringLiteral("GS %1 ").arg(cmd);
            }
        } else if (c == 0x0a) {
            current().lines.append({EscPos::fromCodePage(text), bold, large, centred});
            current().feedAfter = 0;
            text.clear();
        } else if (c < 0x20 || c == 0x7f) {
            current().unknown += QStringLiteral("byte %1 ").arg(c);
        } else {
            text += static_cast<char>(c);
        }
    }
    return out;
}

// A network printer on a loopback port: every connection's bytes, once it has closed.
struct FakeNetworkPrinter {
    QTcpServer server;
    QVector<QByteArray> received;

    FakeNetworkPrinter()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                auto* buffer = new QByteArray;
                QObject::connect(s, &QTcpSocket::readyRead, s, [s, buffer] { *buffer += s->readAll(); });
                QObject::connect(s, &QTcpSocket::disconnected, s, [this, s, buffer] {
                    *buffer += s->readAll();
                    received.append(*buffer);
                    delete buffer;
                    s->deleteLater();
                });
            }
        });
        server.listen(QHostAddress::LocalHost);
    }
    QString name() const { return QStringLiteral("escpos://127.0.0.1:%1").arg(server.serverPort()); }
};

// A listener whose queue is full: the kernel takes no further connection, as with a printer that
// hangs or a host that drops the packets.
struct SilentListener {
    int fd = -1;
    int filler = -1;
    int port = 0;

    SilentListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(fd, 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        filler = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&addr), len);
    }
    ~SilentListener()
    {
        ::close(filler);
        ::close(fd);
    }
};

} // namespace tallyvo::test
