#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace tallyvo {

class Prompt;

// The record half of a list/record window pair: a separate dialog window over one record, whose
// key is in the hidden label lblRef ("" for a new record). "Save" validates and stops at the
// first failure with its message; then it inserts (saveData) or updates (updateData), tells the
// list to refill and closes. A database error is shown in the database's own words, and the
// window closes and the list refills all the same, so what the list shows is what is stored.
//
// It needs nothing of the list that opened it, which may be closed while it is open: the list
// only listens to saved().
//
// A window built on this has its own form with the key label and the two buttons, and hands them
// to bind() after setupUi.
class RecordWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecordWindow(Prompt& prompt, QWidget* parent = nullptr);

    QString key() const;
    // The key as a whole number (0 for a new record), as it goes into a statement.
    qint64 keyNumber() const;
    // Puts key into the key label and reads the record (getData).
    void edit(const QString& key);

    // "Save" and "Close".
    void save();

signals:
    // After an insert or update, also one the database refused.
    void saved();

protected:
    void bind(QLabel* lblRef, QPushButton* save, QPushButton* close);
    Prompt& prompt() const { return m_prompt; }

    // The first failing check's message, or "" when the record may be stored.
    virtual QString validate() = 0;
    // Throw DbError on a refused statement.
    virtual void saveData() = 0;
    virtual void updateData() = 0;
    virtual void getData() = 0;

private:
    Prompt& m_prompt;
    QLabel* m_lblRef = nullptr;
};

} // namespace tallyvo
