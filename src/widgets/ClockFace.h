#pragma once

#include <QString>
#include <QTime>
#include <QWidget>
#include <memory>

class QSvgRenderer;
class QTimer;

namespace tallyvo {

// An SVG clock face turned to a time of day. A face is drawn as its "face" element (or the whole
// picture when it has none), then the hands "hour", "minute" and "second", each drawn pointing at
// 12 o'clock and turned about the centre of the view box, then "cap" on top.
class ClockFace {
public:
    ClockFace();
    ~ClockFace();

    // False when the file is missing or not a picture.
    bool load(const QString& file);
    bool isValid() const;
    QString file() const { return m_file; }

    // Degrees clockwise from 12 o'clock.
    static double hourAngle(const QTime& t);
    static double minuteAngle(const QTime& t);
    static double secondAngle(const QTime& t);

    // Draws the face centred in target, as large as fits.
    void paint(class QPainter& painter, const QRectF& target, const QTime& time) const;

private:
    std::unique_ptr<QSvgRenderer> m_svg;
    QString m_file;
};

// A live clock: the face, turned to the current time every second.
class ClockView : public QWidget {
    Q_OBJECT
public:
    explicit ClockView(QWidget* parent = nullptr);
    ~ClockView() override;

    bool setFile(const QString& file);
    QString file() const { return m_face.file(); }
    bool hasFace() const { return m_face.isValid(); }

    // The time shown; a null time follows the system clock.
    void setTime(const QTime& time);

    QSize sizeHint() const override { return {220, 220}; }

protected:
    void paintEvent(class QPaintEvent* event) override;

private:
    ClockFace m_face;
    QTime m_fixed;
    QTimer* m_tick;
};

} // namespace tallyvo
