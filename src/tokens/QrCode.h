#pragma once

#include <QString>
#include <QVector>

namespace tallyvo {

// A QR code as a square of modules, for any printer to draw: dark modules are printed, the rest
// and a quiet zone of kQuietZone modules all round stay blank. Error correction level M, which a
// phone still reads through a crease or a smudge of thermal paper.
class QrCode {
public:
    // Blank modules each side that scanners need to find the code.
    static constexpr int kQuietZone = 4;

    // The text's UTF-8 bytes encoded in the smallest version they fit. An empty text, or one too
    // long for any QR code, gives a null code.
    explicit QrCode(const QString& text);

    bool isNull() const { return m_size == 0; }
    // Modules each side, without the quiet zone.
    int size() const { return m_size; }
    // Modules each side with the quiet zone.
    int sizeWithQuietZone() const { return m_size == 0 ? 0 : m_size + 2 * kQuietZone; }
    // Whether the module at column x, row y (0-based, quiet zone not counted) is dark; false
    // outside the code.
    bool dark(int x, int y) const;

private:
    int m_size = 0;
    QVector<bool> m_modules;
};

} // namespace tallyvo
