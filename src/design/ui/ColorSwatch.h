#pragma once

#include <QPushButton>

namespace tallyvo {

// A button filled with one colour of a theme, kept as the stored 0x00BBGGRR number.
class ColorSwatch : public QPushButton {
    Q_OBJECT
public:
    explicit ColorSwatch(QWidget* parent = nullptr);

    int bgr() const { return m_bgr; }
    void setBgr(int bgr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_bgr = 0;
};

} // namespace tallyvo
