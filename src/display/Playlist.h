#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tallyvo {

// Which playlist entry the video pane shows next. The rows are read again before every entry,
// so rows added or switched off while the display runs are seen at the next advance.
//
// A picture stays for the picture time, a video plays to its end, a file that cannot be played
// is skipped at once. When a whole round of the list has failed without anything shown, the
// pane gives up instead of cycling through the list without end, and tries again later.
class Playlist {
public:
    struct Entry {
        int position = 0;
        QString path;
        bool picture = false;
    };

    // A path ending in "jpg" in any case is a picture; anything else (".jpeg" too) a video.
    static bool isPicture(const QString& path);

    // The entry at position p of rows, or the first when p is past the end; nullopt when the
    // list is empty. For a picture the index already points past it.
    std::optional<Entry> getNextVid(int p, const QStringList& rows);
    // The entry shown last could not be played. Gives the position to try next, or nullopt when
    // every entry of a full round has failed (the pane then stops and tries again later).
    std::optional<int> failed(int rowCount);
    // The entry shown last played (a picture was shown, a video loaded).
    void played() { m_failures = 0; }
    // Position after a video that played to its end.
    int afterEnd() const { return m_current.position + 1; }

    int index() const { return m_index; }
    const Entry& current() const { return m_current; }

private:
    int m_index = 0;
    int m_failures = 0;
    Entry m_current;
};

} // namespace tallyvo
