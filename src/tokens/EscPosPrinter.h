#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace tallyvo {

// A thermal receipt printer reached without the system's print service, named by the station's
// printer setting:
//   escpos://HOST[:PORT]       raw TCP, port 9100 when left out (IPv6 hosts in brackets)
//   escpos:///dev/usb/lp0      a device file: the USB printer class, a parallel port, or a serial
//                              line (escpos:///dev/ttyUSB0?baud=19200; the line is left as set up
//                              when no baud rate is given)
// Sending never waits longer than the timeout: a printer that is switched off, unplugged, out of
// paper with a full buffer, or not reading at all fails with a reason instead of holding the
// station.
class EscPosPrinter {
    Q_DECLARE_TR_FUNCTIONS(EscPosPrinter)

public:
    static constexpr int kDefaultPort = 9100;
    static constexpr int kDefaultTimeoutMs = 5000;

    // True for every name in the escpos: scheme, well formed or not: such a name is never a
    // system printer.
    static bool isEscPos(const QString& name);

    explicit EscPosPrinter(const QString& name);

    // Printer names for the device files under `devRoot` a ticket printer may be on: USB
    // printers (usb/lp*), parallel ports (lp*), USB serial adapters (ttyUSB*, ttyACM*).
    static QStringList deviceNames(const QString& devRoot = QStringLiteral("/dev"));

    // False when the name cannot be read; error() says what is wrong with it.
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    bool isNetwork() const { return !m_host.isEmpty(); }
    QString host() const { return m_host; }
    int port() const { return m_port; }
    QString device() const { return m_device; }
    int baud() const { return m_baud; }

    void setTimeout(int ms) { m_timeoutMs = ms; }
    int timeout() const { return m_timeoutMs; }

    // Sends the bytes; on failure returns false and says why in *error. timedOut() then tells a
    // printer that did not answer from one that refused.
    bool send(const QByteArray& data, QString* error = nullptr);
    bool timedOut() const { return m_timedOut; }

private:
    bool sendNetwork(const QByteArray& data, QString* error);
    bool sendDevice(const QByteArray& data, QString* error);
    QString seconds() const;

    QString m_name;
    QString m_host;
    int m_port = kDefaultPort;
    QString m_device;
    int m_baud = 0;
    int m_timeoutMs = kDefaultTimeoutMs;
    QString m_error;
    bool m_timedOut = false;
};

} // namespace tallyvo
