#include "display/ui/MediaPane.h"

#include <QAudioOutput>
#include <QCamera>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QStackedLayout>
#include <QTimer>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

namespace tallyvo {

namespace {

constexpr int kRetryMs = 60000;
// A video that has not begun within this time is treated as unplayable.
constexpr int kStartLimitMs = 15000;

} // namespace

MediaPane::MediaPane(Rows rows, QWidget* parent)
    : QWidget(parent)
    , m_rows(std::move(rows))
    , m_stack(new QStackedLayout(this))
    , m_video(new VideoSurface(this))
    , m_pictureLabel(new QLabel(this))
    , m_player(new QMediaPlayer(this))
    , m_audio(new QAudioOutput(this))
    , m_timer9(new QTimer(this))
    , m_retry(new QTimer(this))
    , m_startLimit(new QTimer(this))
{
    setObjectName(QStringLiteral("VideoCapX"));
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_video);
    m_stack->addWidget(m_pictureLabel);
    m_pictureLabel->setAlignment(Qt::AlignCenter);
    m_pictureLabel->setAutoFillBackground(true);
    m_pictureLabel->setPalette(black);
    m_pictureLabel->setMinimumSize(1, 1);
    m_player->setAudioOutput(m_audio);
    m_player->setVideoSink(m_video->sink());

    m_timer9->setObjectName(QStringLiteral("Timer9"));
    m_timer9->setSingleShot(true);
    connect(m_timer9, &QTimer::timeout, this, [this] { getNextVid(m_playlist.index()); });
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, [this] { getNextVid(0); });
    m_startLimit->setSingleShot(true);
    m_startLimit->setInterval(kStartLimitMs);
    connect(m_startLimit, &QTimer::timeout, this, [this] {
        if (!m_source.isEmpty() && !m_videoShown)
            skipCurrent();
    });

    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &MediaPane::onStatus);
    connect(m_player, &QMediaPlayer::errorOccurred, this, &MediaPane::onError);
}

MediaPane::~MediaPane()
{
    stop();
}

void MediaPane::setRetryInterval(int ms)
{
    m_retry->setInterval(ms);
}

float MediaPane::volume() const
{
    return m_audio->volume();
}

bool MediaPane::isWaitingToRetry() const
{
    return m_retry->isActive();
}

bool MediaPane::isPictureTimerActive() const
{
    return m_timer9->isActive();
}

void MediaPane::startLive(int device)
{
    stop();
    const QList<QCameraDevice> inputs = QMediaDevices::videoInputs();
    const QCameraDevice chosen =
        device >= 0 && device < inputs.size() ? inputs.at(device) : QMediaDevices::defaultVideoInput();
    m_session = new QMediaCaptureSession(this);
    m_camera = new QCamera(chosen, this);
    m_session->setCamera(m_camera);
    m_session->setVideoSink(m_video->sink());
    m_stack->setCurrentWidget(m_video);
    setDark(true);
    // A missing device leaves the pane dark; the camera reports it and nothing else depends on it.
    m_camera->start();
}

void MediaPane::startPlaylist(int volume)
{
    stop();
    m_volume = std::clamp(volume, 0, 10);
    m_audio->setVolume(float(m_volume * 10) / 100.0f);
    m_running = true;
    getNextVid(0);
}

void MediaPane::stop()
{
    m_running = false;
    m_timer9->stop();
    m_retry->stop();
    m_startLimit->stop();
    m_source.clear();
    m_player->stop();
    if (m_camera) {
        m_camera->stop();
        delete m_session;
        delete m_camera;
        m_session = nullptr;
        m_camera = nullptr;
        m_player->setVideoSink(m_video->sink());
    }
}

void MediaPane::setDark(bool dark)
{
    setAutoFillBackground(dark);
    m_pictureLabel->setAutoFillBackground(dark);
}

void MediaPane::getNextVid(int p)
{
    if (!m_running)
        return;
    m_retry->stop();
    setDark(true);
    const QStringList rows = m_rows ? m_rows() : QStringList();
    const std::optional<Playlist::Entry> entry = m_playlist.getNextVid(p, rows);
    if (!entry) {
        rest();
        return;
    }
    if (entry->picture)
        showPicture(entry->path);
    else
        playVideo(entry->path);
}

void MediaPane::showPicture(const QString& path)
{
    m_source.clear();
    m_startLimit->stop();
    m_player->stop();
    m_video->clear();
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        skipCurrent();
        return;
    }
    m_shownPicture = QPixmap::fromImage(image);
    showScaledPicture();
    m_stack->setCurrentWidget(m_pictureLabel);
    m_playlist.played();
    if (m_pictureMs > 0) {
        // Whole days at most: a longer time could not be told apart from "for ever" anyway.
        m_timer9->start(int(std::min<qint64>(m_pictureMs, 86400000)));
    }
    emit entryShown(path, true);
}

void MediaPane::showScaledPicture()
{
    if (m_shownPicture.isNull())
        return;
    m_pictureLabel->setPixmap(
        m_shownPicture.scaled(size().expandedTo(QSize(1, 1)), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void MediaPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    showScaledPicture();
}

void MediaPane::playVideo(const QString& path)
{
    m_timer9->stop();
    if (!QFileInfo(path).isFile()) {
        m_source.clear();
        skipCurrent();
        return;
    }
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    m_stack->setCurrentWidget(m_video);
    m_audio->setVolume(float(m_volume * 10) / 100.0f);
    m_source = url;
    m_videoShown = false;
    m_startLimit->start();
    if (m_player->source() == url) {
        // The same file again (a playlist of one video): from the start when it played before;
        // a file that failed is loaded afresh so that it fails again rather than "plays".
        if (m_player->error() == QMediaPlayer::NoError && (m_player->hasVideo() || m_player->hasAudio())) {
            // Counted as shown first: going back to the start reports the file loaded again.
            m_videoShown = true;
            m_player->setPosition(0);
            m_player->play();
            emit entryShown(path, false);
            return;
        }
        m_player->setSource(QUrl());
    }
    m_player->setSource(url);
    m_player->play();
}

void MediaPane::onStatus()
{
    if (m_source.isEmpty() || m_player->source() != m_source)
        return;
    switch (m_player->mediaStatus()) {
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferingMedia:
    case QMediaPlayer::BufferedMedia:
        // Only a file with a picture or sound track counts as playing: a broken file can get
        // this far before it fails, and must not reset the count of failures.
        if (!m_videoShown && (m_player->hasVideo() || m_player->hasAudio())) {
            m_videoShown = true;
            m_playlist.played();
            emit entryShown(m_playlist.current().path, false);
        }
        break;
    case QMediaPlayer::EndOfMedia:
        // A file that ends without ever having played is as unplayable as one that fails.
        if (!m_videoShown) {
            skipCurrent();
            break;
        }
        m_source.clear();
        getNextVid(m_playlist.afterEnd());
        break;
    case QMediaPlayer::InvalidMedia:
        skipCurrent();
        break;
    default:
        break;
    }
}

void MediaPane::onError()
{
    if (m_source.isEmpty() || m_player->source() != m_source)
        return;
    skipCurrent();
}

void MediaPane::skipCurrent()
{
    m_startLimit->stop();
    m_source.clear();
    if (m_skipQueued)
        return;
    m_skipQueued = true;
    const QString path = m_playlist.current().path;
    // Never from inside the player's own signal, and never as a tight loop.
    QTimer::singleShot(0, this, [this, path] {
        m_skipQueued = false;
        if (!m_running)
            return;
        emit entrySkipped(path);
        const QStringList rows = m_rows ? m_rows() : QStringList();
        const std::optional<int> next = m_playlist.failed(int(rows.size()));
        if (next)
            getNextVid(*next);
        else
            rest();
    });
}

void MediaPane::rest()
{
    m_video->clear();
    m_timer9->stop();
    m_source.clear();
    m_player->stop();
    m_shownPicture = QPixmap();
    m_pictureLabel->clear();
    m_stack->setCurrentWidget(m_pictureLabel);
    // Nothing to show: the window's own background shows through rather than a black box.
    setDark(false);
    m_retry->start();
    emit playlistIdle();
}

} // namespace tallyvo
