#pragma once

#include "display/Playlist.h"
#include "display/ui/VideoSurface.h"

#include <QImage>
#include <QPixmap>
#include <QUrl>
#include <QWidget>
#include <functional>

class QAudioOutput;
class QCamera;
class QLabel;
class QMediaCaptureSession;
class QMediaPlayer;
class QStackedLayout;
class QTimer;

namespace tallyvo {

// The video pane VideoCapX: the playlist of videos and pictures, or the live picture of a
// capture device.
//
// Playlist: before each entry the rows are read again (rows()); a picture stays for the picture
// time (Timer9), a video plays to its end, a file that cannot be played is skipped at once. When
// nothing in a whole round could be played, or the list is empty, the pane stops and looks again
// after the retry interval (a minute) instead of spinning through the list.
class MediaPane : public QWidget {
    Q_OBJECT
public:
    using Rows = std::function<QStringList()>;
    MediaPane(Rows rows, QWidget* parent = nullptr);
    ~MediaPane() override;

    // Live input from capture device index (-1 the system's default); wins over the playlist.
    void startLive(int device);
    bool isLive() const { return m_camera != nullptr; }
    // Starts the playlist at entry 0, volume 0..10.
    void startPlaylist(int volume);
    void stop();

    // Picture time in milliseconds; 0 keeps a picture until the display is restarted.
    void setPictureTime(qint64 ms) { m_pictureMs = ms; }
    qint64 pictureTime() const { return m_pictureMs; }
    void setRetryInterval(int ms);

    // Shows entry p of the playlist (the first when p is past the end).
    void getNextVid(int p);

    const Playlist& playlist() const { return m_playlist; }
    QMediaPlayer* player() const { return m_player; }
    QCamera* camera() const { return m_camera; }
    // The player's volume 0..1 (the theme's 0..10 scaled).
    float volume() const;
    bool isWaitingToRetry() const;
    bool isPictureTimerActive() const;
    QPixmap picture() const { return m_shownPicture; }
    VideoSurface* surface() const { return m_video; }

signals:
    // An entry has started to show.
    void entryShown(const QString& path, bool picture);
    // An entry could not be played and was skipped.
    void entrySkipped(const QString& path);
    // Nothing could be played in a whole round (or the list is empty): waiting to retry.
    void playlistIdle();

private:
    void showPicture(const QString& path);
    void playVideo(const QString& path);
    void skipCurrent();
    void rest();
    void onStatus();
    void onError();
    void showScaledPicture();
    void setDark(bool dark);

    Rows m_rows;
    Playlist m_playlist;
    QStackedLayout* m_stack;
    VideoSurface* m_video;
    QLabel* m_pictureLabel;
    QPixmap m_shownPicture;
    QMediaPlayer* m_player;
    QAudioOutput* m_audio;
    QMediaCaptureSession* m_session = nullptr;
    QCamera* m_camera = nullptr;
    QTimer* m_timer9;
    QTimer* m_retry;
    QTimer* m_startLimit;
    QUrl m_source;  // the video being played; empty while a picture shows
    qint64 m_pictureMs = 5000;
    int m_volume = 0;
    bool m_running = false;
    bool m_skipQueued = false;
    bool m_videoShown = false;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace tallyvo
