#include "design/ui/frmTheme.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "core/SettingsStore.h"
#include "design/ThemeRules.h"
#include "design/ThemeStore.h"
#include "design/ui/ColorSwatch.h"
#include "design/ui/frmHeader.h"
#include "design/ui/frmPos.h"
#include "ui_frmTheme.h"
#include "widgets/BgrColor.h"
#include "widgets/frmclklst.h"

#include <QColorDialog>
#include <QFontDatabase>
#include <QKeyEvent>

namespace tallyvo {

namespace {

using ThemeRules::NumberBox;

// The control of each column, in ThemeStore::columns() order.
constexpr const char* kControls[] = {
    "txtName",    "txtCols",    "txtRows",    "txtWidth",   "txtRowHeight", "txtLogo",    "chkTime",
    "txtClock",   "cmbTimeFont", "cmbTimeSize", "swTime",   "swTableBg",    "swLine",     "swAlt",
    "txtBg",      "cmbHdFont",  "swHdBg",     "swHdColor",  "cmbHdSize",    "cmbCrrFont", "cmbCrrSize",
    "swCrrColor", "swCrrBg",    "cmbValFont", "cmbValSize", "swValColor",   "swValBg",    "cmbType",
    "swScreen",   "txtLineWidth", "txtVideo", "txtOnline",  "txtVolume",    "chkMovie",   "txtTitle",
    "cmbTtlFont", "swTtlColor", "cmbTtlSize", "chkScroll",  "txtFormat",    "chkHeader",  "txtColumn1",
    "txtColumn2", "txtImg1",    "txtImg2",    "swNews"};

const QString kLogoFilter = QStringLiteral("Jpeg Files (*.jpg);;GIF Files (*.gif);;Flash Files (*.swf);;All Files (*)");
const QString kBackgroundFilter = QStringLiteral("Jpeg Files (*.jpg)");
const QString kVideoFilter = QStringLiteral("Video Files (*.avi *.dat *.mpg *.wmv)");
const QString kCellPictureFilter = QStringLiteral("Jpeg Files (*.jpg);;GIF Files (*.gif);;All Files (*)");

std::optional<int> whole(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (!ok || d < -2147483648.0 || d > 2147483647.0)
        return std::nullopt;
    return static_cast<int>(std::lround(d));
}

// Puts a stored text into a list: its entry when it has one, else the text itself where the list
// takes a text of its own. A list of fixed entries leaves an unknown text unshown.
void showText(QComboBox* box, const QString& text)
{
    const int at = box->findText(text, Qt::MatchExactly);
    if (at >= 0)
        box->setCurrentIndex(at);
    else if (box->isEditable())
        box->setEditText(text);
}

} // namespace

frmTheme::frmTheme(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmTheme>())
    , m_connection(connection)
    , m_settings(settings)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    static_assert(std::size(kControls) == 46);
    for (const char* name : kControls) {
        QWidget* w = findChild<QWidget*>(QLatin1String(name));
        Q_ASSERT(w);
        m_fields << w;
    }

    m_chooseColor = [this](int current, const QString& caption) -> std::optional<int> {
        const QColor c = QColorDialog::getColor(colorFromBgr(current), this, caption);
        if (!c.isValid())
            return std::nullopt;
        return bgrFromColor(c);
    };

    for (ColorSwatch* swatch : findChildren<ColorSwatch*>())
        connect(swatch, &QPushButton::clicked, this, [this, swatch] { pickColour(swatch); });
    connect(m_ui->cmdLogo, &QPushButton::clicked, this, [this] { pickFile(m_ui->txtLogo, kLogoFilter); });
    connect(m_ui->cmdBg, &QPushButton::clicked, this, [this] { pickFile(m_ui->txtBg, kBackgroundFilter); });
    connect(m_ui->cmdVideo, &QPushButton::clicked, this, [this] { pickFile(m_ui->txtVideo, kVideoFilter); });
    connect(m_ui->cmdImg1, &QPushButton::clicked, this, [this] { pickFile(m_ui->txtImg1, kCellPictureFilter); });
    connect(m_ui->cmdImg2, &QPushButton::clicked, this, [this] { pickFile(m_ui->txtImg2, kCellPictureFilter); });
    for (QLineEdit* box : {m_ui->txtLogo, m_ui->txtBg, m_ui->txtVideo, m_ui->txtImg1, m_ui->txtImg2, m_ui->txtClock})
        box->installEventFilter(this);
    for (QLineEdit* box : {m_ui->txtCols, m_ui->txtRows, m_ui->txtRowHeight, m_ui->txtDuration, m_ui->txtInterval,
                           m_ui->txtVolume, m_ui->txtLineWidth})
        box->installEventFilter(this);

    // The lists whose choice is shown in the chosen font; the clock's is not.
    for (QComboBox* list : {m_ui->cmbTtlFont, m_ui->cmbHdFont, m_ui->cmbCrrFont, m_ui->cmbValFont}) {
        connect(list, &QComboBox::currentTextChanged, list, [list](const QString& family) {
            QFont f = list->font();
            f.setFamily(family);
            list->setFont(f);
        });
    }

    connect(m_ui->cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(m_ui->cmdPosition, &QPushButton::clicked, this, &frmTheme::cmdPosition_Click);
    connect(m_ui->cmdHeader, &QPushButton::clicked, this, &frmTheme::cmdHeader_Click);
    connect(m_ui->cmdClock, &QPushButton::clicked, this, &frmTheme::cmdClock_Click);

    // Load.
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    m_ui->txtInterval->setText(QStringLiteral("3000"));
    m_ui->txtDuration->setText(m_settings.get(Keys::PicDuration));
    addSize();
    addFont();
    setValues(ThemeStore::initialValues());
    m_ui->cmbType->setCurrentIndex(0);
}

frmTheme::~frmTheme() = default;

frmPos* frmTheme::designer() const
{
    return m_pos;
}

frmHeader* frmTheme::headerWindow() const
{
    return m_header;
}

frmclklst* frmTheme::clockPicker() const
{
    return m_clock;
}

QString frmTheme::ref() const
{
    return m_ui->lblRef->text();
}

void frmTheme::setRef(const QString& key)
{
    m_ui->lblRef->setText(key);
    // Only a saved theme keeps its type.
    if (key.isEmpty())
        m_ui->cmbType->setEnabled(true);
}

qint64 frmTheme::key() const
{
    return ref().trimmed().toInt();
}

void frmTheme::addFont()
{
    const QStringList families = QFontDatabase::families();
    for (QComboBox* list :
         {m_ui->cmbTtlFont, m_ui->cmbTimeFont, m_ui->cmbHdFont, m_ui->cmbCrrFont, m_ui->cmbValFont}) {
        const QString shown = list->currentText();
        const QSignalBlocker quiet(list);
        list->clear();
        list->addItems(families);
        showText(list, shown);
    }
}

void frmTheme::addSize()
{
    QStringList sizes;
    for (int s = 2; s <= 50; s += 2)
        sizes << QString::number(s);
    for (QComboBox* list :
         {m_ui->cmbTtlSize, m_ui->cmbTimeSize, m_ui->cmbHdSize, m_ui->cmbCrrSize, m_ui->cmbValSize}) {
        const QString shown = list->currentText();
        list->clear();
        list->addItems(sizes);
        showText(list, shown);
    }
}

bool frmTheme::chkVal() const
{
    return ThemeRules::chkVal(m_ui->txtWidth->text(), m_ui->txtCols->text());
}

QVariantList frmTheme::values() const
{
    QVariantList out;
    const auto columns = ThemeStore::columns();
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        QWidget* w = m_fields.at(i);
        switch (columns[static_cast<size_t>(i)].form) {
        case ThemeStore::Form::Colour:
            out << static_cast<ColorSwatch*>(w)->bgr();
            break;
        case ThemeStore::Form::Flag:
            out << (static_cast<QCheckBox*>(w)->isChecked() ? 1 : 0);
            break;
        case ThemeStore::Form::Text:
            if (auto* list = qobject_cast<QComboBox*>(w))
                out << list->currentText();
            else
                out << static_cast<QLineEdit*>(w)->text();
            break;
        }
    }
    return out;
}

void frmTheme::setValues(const QVariantList& values)
{
    const auto columns = ThemeStore::columns();
    for (qsizetype i = 0; i < m_fields.size() && i < values.size(); ++i) {
        const QVariant& v = values.at(i);
        // A value the field cannot show leaves the field as it is.
        if (!v.isValid() || v.isNull())
            continue;
        QWidget* w = m_fields.at(i);
        switch (columns[static_cast<size_t>(i)].form) {
        case ThemeStore::Form::Colour:
            if (const std::optional<int> c = whole(v))
                static_cast<ColorSwatch*>(w)->setBgr(*c);
            break;
        case ThemeStore::Form::Flag:
            if (const std::optional<int> f = whole(v))
                static_cast<QCheckBox*>(w)->setChecked(*f != 0);
            break;
        case ThemeStore::Form::Text:
            if (auto* list = qobject_cast<QComboBox*>(w))
                showText(list, v.toString());
            else
                static_cast<QLineEdit*>(w)->setText(v.toString());
            break;
        }
    }
}

bool frmTheme::saveData()
{
    try {
        const qint64 added = ThemeStore::add(*m_connection.db(), values());
        setRef(QString::number(added));
        m_ui->cmbType->setEnabled(false);
        return true;
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return false;
    }
}

bool frmTheme::updateData()
{
    try {
        if (ThemeStore::update(*m_connection.db(), key(), values()))
            return true;
        // Another station deleted it meanwhile: say so rather than hide the edits as if saved.
        m_prompt.message(tr("This theme no longer exists, so nothing was saved. Use \"Add New\" in the theme "
                            "list to store these values as a new theme."));
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
    return false;
}

void frmTheme::getData()
{
    try {
        if (const std::optional<QVariantList> stored = ThemeStore::load(*m_connection.db(), key()))
            setValues(*stored);
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return;
    }
    m_ui->cmbType->setEnabled(false);
}

bool frmTheme::cmdSave_Click()
{
    correct(m_ui->txtDuration);
    m_settings.set(Keys::PicDuration, m_ui->txtDuration->text());
    if (!chkVal()) {
        m_prompt.message(tr("Please Enter a valid colum widths"));
        return false;
    }
    if (m_ui->txtName->text().isEmpty()) {
        m_prompt.message(tr("Please select a name"));
        return false;
    }
    if (!(ref().isEmpty() ? saveData() : updateData()))
        return false;
    emit saved();
    hide();
    return true;
}

void frmTheme::cmdPosition_Click()
{
    if (ref().isEmpty())
        return;
    if (!m_pos)
        m_pos = new frmPos(m_connection, m_prompt, this);
    m_pos->setRef(ref());
    m_pos->getData();
    if (m_ui->cmbType->currentText() == QLatin1String("Vertical"))
        m_pos->ver();
    else
        m_pos->hor();
    m_pos->show();
    m_pos->raise();
}

void frmTheme::cmdHeader_Click()
{
    if (ref().isEmpty())
        return;
    if (!m_header)
        m_header = new frmHeader(m_connection, m_prompt, this);
    m_header->setRef(ref());
    m_header->getData();
    m_header->show();
    m_header->raise();
}

void frmTheme::cmdClock_Click()
{
    if (!m_clock) {
        m_clock = new frmclklst(this, m_clockFolder);
        connect(m_clock, &frmclklst::clockSelected, m_ui->txtClock, &QLineEdit::setText);
    }
    m_clock->show();
    m_clock->raise();
}

void frmTheme::pickColour(ColorSwatch* swatch)
{
    if (const std::optional<int> chosen = m_chooseColor(swatch->bgr(), swatch->accessibleName()))
        swatch->setBgr(*chosen);
}

void frmTheme::pickFile(QLineEdit* box, const QString& filter)
{
    const QString path = m_prompt.openFileName(tr("Open"), filter);
    if (!path.isEmpty())
        box->setText(path);
}

void frmTheme::correct(QLineEdit* box)
{
    const Ui::frmTheme& ui = *m_ui;
    std::optional<NumberBox> kind;
    if (box == ui.txtCols)
        kind = NumberBox::Colums;
    else if (box == ui.txtRows)
        kind = NumberBox::Rows;
    else if (box == ui.txtRowHeight)
        kind = NumberBox::RowHeight;
    else if (box == ui.txtDuration)
        kind = NumberBox::SlideDuration;
    else if (box == ui.txtInterval)
        kind = NumberBox::PageInterval;
    else if (box == ui.txtVolume)
        kind = NumberBox::Volume;
    else if (box == ui.txtLineWidth)
        kind = NumberBox::LineWidth;
    if (!kind)
        return;
    const QString fixed = ThemeRules::corrected(*kind, box->text());
    if (fixed != box->text())
        box->setText(fixed);
    if (box == ui.txtCols && ui.txtWidth->text().isEmpty())
        ui.txtWidth->setText(ThemeRules::defaultWidths(box->text()));
}

bool frmTheme::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box && event->type() == QEvent::FocusOut) {
        correct(box);
    } else if (box && box->isReadOnly() && event->type() == QEvent::KeyPress
               && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        box->clear();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tallyvo
