#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

namespace tallyvo {

// One tblCall row as the display uses it.
struct CallRow {
    qint64 callauto = 0;
    QString label;       // no_abr: the token label as the console showed it
    QString displayName; // the calling counter's display name
    QString callNote;    // the second line of the counter cell, often empty
    qint64 feedSeq = 0;  // its place in the display feed (a recall takes a new one)

    // Column 1 of the token table: the label and one space. Comparing these cell texts, rather
    // than the bare labels, keeps a label that itself ends in a space comparing correctly.
    QString tableLabel() const { return label + QLatin1Char(' '); }
    // Column 2: the display name, with the note on a second line when there is one.
    QString counterText() const
    {
        return callNote.isEmpty() ? displayName : displayName + QStringLiteral("\r\n") + callNote;
    }
};

} // namespace tallyvo

Q_DECLARE_METATYPE(tallyvo::CallRow)
