#include "widgets/RecordWindow.h"

#include "core/DbError.h"
#include "core/Prompt.h"

#include <QLabel>
#include <QPushButton>

namespace tallyvo {

RecordWindow::RecordWindow(Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Dialog)
    , m_prompt(prompt)
{
}

void RecordWindow::bind(QLabel* lblRef, QPushButton* save, QPushButton* close)
{
    m_lblRef = lblRef;
    m_lblRef->setVisible(false);
    m_lblRef->clear();
    connect(save, &QPushButton::clicked, this, &RecordWindow::save);
    if (close) // some record windows close only by their frame's close box
        connect(close, &QPushButton::clicked, this, &QWidget::close);
}

QString RecordWindow::key() const
{
    return m_lblRef ? m_lblRef->text() : QString();
}

qint64 RecordWindow::keyNumber() const
{
    return key().trimmed().toLongLong();
}

void RecordWindow::edit(const QString& key)
{
    m_lblRef->setText(QString::number(key.trimmed().toLongLong()));
    try {
        getData();
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
}

void RecordWindow::save()
{
    QString refusal;
    try {
        refusal = validate();
    } catch (const DbError& e) {
        // A check that could not ask the database stores nothing and keeps what was typed.
        refusal = e.text();
    }
    if (!refusal.isEmpty()) {
        m_prompt.message(refusal);
        return;
    }
    try {
        if (key().isEmpty())
            saveData();
        else
            updateData();
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
    emit saved();
    close();
}

} // namespace tallyvo
