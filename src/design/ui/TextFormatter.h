#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QTextCharFormat;
class QTextEdit;

namespace tallyvo {

// The news editor's formatting commands on the selection of its rich-text box, and what the
// selection looks like for the menus, toolbar and lists that follow it. It knows the box and the
// base font (what text without a font of its own is shown in), none of the window's controls.
// Commands that change characters give the box the focus back.
class TextFormatter {
public:
    // What the controls that follow the selection show.
    struct Look {
        bool bold = false;
        bool italic = false;
        bool underline = false;
        bool strikeOut = false;
        Qt::Alignment alignment = Qt::AlignLeft; // AlignLeft, AlignHCenter or AlignRight
        bool bullets = false;                    // every selected paragraph has one
        QString family;                          // "" when the selection mixes several
        QString size;                            // points; "" when the selection mixes several
        int indentPosition = -1;                 // the slider position the indent is at, or -1
    };

    explicit TextFormatter(QTextEdit& box);

    const QFont& baseFont() const { return m_base; }
    void setBaseFont(const QFont& font) { m_base = font; }

    void setBold(bool on);
    void setItalic(bool on);
    void setUnderline(bool on);
    void setStrikeOut(bool on);
    // On when some selected paragraph has none, otherwise off.
    void toggleBullets();
    void setAlignment(Qt::Alignment alignment);
    // The selected text in upper or lower case, as plain text; nothing without a selection.
    void changeCase(bool upper);
    // The font list's family and the size list's size; a size that is no number is left out.
    void setFontAndSize(const QString& family, const QString& size);
    // The size alone; false (nothing changed) when it is no size.
    bool setSize(const QString& size);
    // "Normal", "Heading1", "Heading2", "Heading3".
    void applyStyle(int index);
    static int styleCount();
    // The style list's own entry: its font at the size and weight the list shows it in.
    static QFont styleListFont(int index, QFont font);
    void setForeground(const QColor& colour);
    void setBackground(const QColor& colour);
    // The font dialog starts from the selection's font; what it gives is applied whole. Returns
    // the size applied, in points.
    QFont selectionFont() const;
    double applyFont(const QFont& font);

    // Indent slider positions 0..7: 2 mm plus that many inches, in twips.
    static int indentTwips(int position);
    static int baseIndentTwips();
    void setIndent(int position);

    Look look() const;

private:
    void merge(const QTextCharFormat& format);

    QTextEdit& m_box;
    QFont m_base;
};

} // namespace tallyvo
