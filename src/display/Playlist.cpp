#include "display/Playlist.h"

#include <QList>

namespace tallyvo {

bool Playlist::isPicture(const QString& path)
{
    return path.right(3).toUpper() == QLatin1String("JPG");
}

std::optional<Playlist::Entry> Playlist::getNextVid(int p, const QStringList& rows)
{
    m_index = p;
    if (rows.isEmpty())
        return std::nullopt;
    if (p < 0 || p >= rows.size()) {
        p = 0;
        m_index = 0;
    }
    m_current = Entry{p, rows.at(p), isPicture(rows.at(p))};
    if (m_current.picture)
        m_index = p + 1;
    return m_current;
}

std::optional<int> Playlist::failed(int rowCount)
{
    if (++m_failures >= std::max(1, rowCount)) {
        m_failures = 0;
        m_index = 0;
        return std::nullopt;
    }
    m_index = m_current.position + 1;
    return m_index;
}

} // namespace tallyvo
