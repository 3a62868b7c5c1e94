#include "display/NewsBand.h"

namespace tallyvo {

NewsBand::NewsBand(Loader loader, Measure measure)
    : m_loader(std::move(loader))
    , m_measure(std::move(measure))
{
    m_labels.append(Label{});
}

void NewsBand::start()
{
    getSnews();
    m_state = State::MovingLeft;
}

void NewsBand::stop()
{
    m_state = State::Stopped;
    m_labels.resize(1);
}

void NewsBand::load(const QString& direction)
{
    m_labels.resize(1);
    ++m_loads;
    const QList<NewsMessage> messages = m_loader ? m_loader(direction) : QList<NewsMessage>();
    for (const NewsMessage& m : messages) {
        Label label;
        label.message = m;
        label.width = m_measure ? m_measure(m) : 0;
        m_labels.append(label);
    }
}

void NewsBand::getSnews()
{
    load(QStringLiteral("Left"));
    resetLbl();
}

void NewsBand::getSnews1()
{
    load(QStringLiteral("Right"));
    resetLbl1();
}

void NewsBand::resetLbl()
{
    m_labels[0].left = m_windowWidth;
    for (qsizetype k = 1; k < m_labels.size(); ++k)
        m_labels[k].left = m_labels[k - 1].left + m_labels[k - 1].width + m_gap;
}

void NewsBand::resetLbl1()
{
    m_labels[0].left = 0;
    for (qsizetype k = 1; k < m_labels.size(); ++k)
        m_labels[k].left = m_labels[k - 1].left - m_labels[k].width - m_gap;
}

void NewsBand::step(double distance)
{
    switch (m_state) {
    case State::Stopped:
        return;
    case State::MovingLeft: {
        const Label& last = m_labels.last();
        if (last.left + last.width > 0) {
            for (Label& label : m_labels)
                label.left -= distance;
        } else {
            getSnews1();
            m_state = State::MovingRight;
        }
        return;
    }
    case State::MovingRight:
        if (!hasMessages() || m_labels.last().left >= m_windowWidth) {
            getSnews();
            m_state = State::MovingLeft;
            return;
        }
        for (Label& label : m_labels)
            label.left += distance;
        return;
    }
}

bool TitleScroll::step(double distance, double textWidth, double paneWidth)
{
    if (m_x > -textWidth) {
        m_x -= distance;
        return true;
    }
    m_x = paneWidth;
    return false;
}

} // namespace tallyvo
