#pragma once

#include <QString>
#include <stdexcept>

namespace tallyvo {

// Thrown by the query helpers when the database refuses a statement. Windows catch it at the
// edge and show text() to the operator; the logic libraries let it travel.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& text)
        : std::runtime_error(text.toStdString())
        , m_text(text)
    {
    }
    const QString& text() const { return m_text; }

private:
    QString m_text;
};

} // namespace tallyvo
