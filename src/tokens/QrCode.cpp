#include "tokens/QrCode.h"

#include <QByteArray>

#include <qrencode.h>

#include <memory>

namespace tallyvo {

QrCode::QrCode(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return;
    // Raw bytes rather than a C string: libqrencode's string mode would stop at a NUL.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0)
        return;
    m_size = code->width;
    m_modules.resize(qsizetype(m_size) * m_size);
    for (qsizetype i = 0; i < m_modules.size(); ++i)
        m_modules[i] = (code->data[i] & 1) != 0; // bit 0: dark; the other bits are libqrencode's own
}

bool QrCode::dark(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_size || y >= m_size)
        return false;
    return m_modules.at(qsizetype(y) * m_size + x);
}

} // namespace tallyvo
