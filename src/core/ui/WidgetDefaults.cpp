#include "core/ui/WidgetDefaults.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QHash>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QTabBar>

namespace tallyvo {

namespace {

class AsteriskStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// A drop-down list as Qt presents it, but named by its caption. Its children are the popup list
// and, when the box can be typed in, the text box, as with Qt's own interface.
class AccessibleComboBox final : public QAccessibleWidget {
public:
    explicit AccessibleComboBox(QComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return box()->currentText();
        const QString own = QAccessibleWidget::text(t);
        // A list without a caption is still read by something.
        if (t == QAccessible::Name && own.isEmpty())
            return box()->currentText();
        return own;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view() && box()->view()->isVisible();
        s.editable = box()->isEditable();
        return s;
    }

    int childCount() const override { return box()->lineEdit() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override
    {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1 && box()->lineEdit()) {
            // The text box one types into is the list itself to the user: same caption.
            QLineEdit* edit = box()->lineEdit();
            const QString caption = QAccessibleWidget::text(QAccessible::Name);
            if (edit->accessibleName() != caption)
                edit->setAccessibleName(caption);
            return QAccessible::queryAccessibleInterface(edit);
        }
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child)
            return -1;
        if (child->object() == box()->view())
            return 0;
        if (box()->lineEdit() && child->object() == box()->lineEdit())
            return 1;
        return -1;
    }

    QStringList actionNames() const override
    {
        return {QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction()};
    }

    void doAction(const QString& actionName) override
    {
        if (actionName == QAccessibleActionInterface::showMenuAction()
            || actionName == QAccessibleActionInterface::pressAction()) {
            if (box()->view() && box()->view()->isVisible())
                box()->hidePopup();
            else
                box()->showPopup();
        }
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(object()); }
};

// A caption as it is said: "&&" is a drawn "&", a lone "&" marks the shortcut key.
QString spoken(QString caption)
{
    caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    caption.remove(QLatin1Char('&'));
    return caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// One tab of a tab bar. Qt reports every tab with the state of the whole bar, so a switched-off
// tab sounds like one that can be chosen; this one says it is disabled.
class AccessibleTab final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    AccessibleTab(QTabBar* bar, int index)
        : m_bar(bar)
        , m_index(index)
    {
    }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    bool isValid() const override { return m_bar && m_index < m_bar->count(); }
    QObject* object() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s = parent()->state();
        s.selectable = true;
        s.selected = m_index == m_bar->currentIndex();
        s.focused = s.selected && m_bar->hasFocus();
        if (!m_bar->isTabEnabled(m_index))
            s.disabled = true;
        if (!m_bar->isTabVisible(m_index))
            s.invisible = true;
        return s;
    }

    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect r = m_bar->tabRect(m_index);
        return QRect(m_bar->mapToGlobal(r.topLeft()), r.size());
    }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return QString();
        switch (t) {
        case QAccessible::Name: {
            const QString name = m_bar->accessibleTabName(m_index);
            return name.isEmpty() ? spoken(m_bar->tabText(m_index)) : name;
        }
        case QAccessible::Description:
            return m_bar->tabToolTip(m_index);
        default:
            return QString();
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_bar.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& actionName) override
    {
        if (isValid() && actionName == pressAction() && m_bar->isTabEnabled(m_index))
            m_bar->setCurrentIndex(m_index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    int index() const { return m_index; }

private:
    QPointer<QTabBar> m_bar;
    int m_index;
};

// A tab bar whose children are its tabs, each with its own enabled state. Named, as Qt names it,
// by the tab that is chosen.
class AccessibleTabBar final : public QAccessibleWidget {
public:
    explicit AccessibleTabBar(QTabBar* bar)
        : QAccessibleWidget(bar, QAccessible::PageTabList)
    {
    }
    ~AccessibleTabBar() override
    {
        for (const QAccessible::Id id : std::as_const(m_tabs))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return bar()->count(); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= bar()->count())
            return nullptr;
        if (const auto known = m_tabs.constFind(index); known != m_tabs.constEnd())
            return QAccessible::accessibleInterface(*known);
        auto* tab = new AccessibleTab(bar(), index);
        m_tabs.insert(index, QAccessible::registerAccessibleInterface(tab));
        return tab;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* tab = dynamic_cast<const AccessibleTab*>(child);
        return tab && tab->parent() == this ? tab->index() : -1;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && bar()->currentIndex() >= 0) {
            if (QAccessibleInterface* current = child(bar()->currentIndex()))
                return current->text(t);
        }
        return QAccessibleWidget::text(t);
    }

private:
    QTabBar* bar() const { return static_cast<QTabBar*>(object()); }

    mutable QHash<int, QAccessible::Id> m_tabs;
};

QAccessibleInterface* widgetFactory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("QComboBox"))
        return new AccessibleComboBox(static_cast<QComboBox*>(object));
    if (className == QLatin1String("QTabBar"))
        return new AccessibleTabBar(static_cast<QTabBar*>(object));
    return nullptr;
}

} // namespace

void installWidgetDefaults()
{
    QApplication::setStyle(new AsteriskStyle);
    QAccessible::installFactory(widgetFactory);
}

} // namespace tallyvo
