#include "shell/frmSettings.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "core/modSub.h"
#include "display/SpeechEngine.h"
#include "tokens/EscPos.h"
#include "tokens/EscPosPrinter.h"
#include "tokens/TicketText.h"
#include "ui_frmSettings.h"

#include <QCameraDevice>
#include <QEvent>
#include <QLineEdit>
#include <QTimer>
#include <QMediaDevices>
#include <QPrinterInfo>
#include <QSqlQuery>
#include <cmath>
#include <limits>

namespace tallyvo {

namespace {

// What the window shows when a setting is missing, where that differs from the store's own
// default: the theme list shows "Black H" although the main window falls back to "HR1".
const QString kShownTheme = QStringLiteral("Black H");

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// Puts text into a list that accepts a text of its own, selecting the matching entry if any.
void showText(QComboBox* box, const QString& text)
{
    const int at = box->findText(text, Qt::MatchFixedString);
    if (at >= 0 && box->itemText(at) == text)
        box->setCurrentIndex(at);
    else if (box->isEditable())
        box->setEditText(text);
    else
        box->setCurrentIndex(at);
}

} // namespace

frmSettings::frmSettings(SettingsStore& settings, Session& session, Connection& connection, Prompt& prompt,
                         SpeechFactory speech, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::frmSettings>())
    , m_settings(settings)
    , m_session(session)
    , m_connection(connection)
    , m_prompt(prompt)
    , m_speechFactory(std::move(speech))
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_ui->Command3->raise();
    m_ui->txtPrint->installEventFilter(this);

    connect(m_ui->Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(m_ui->Command2, &QPushButton::clicked, this, &frmSettings::Command2_Click);
    connect(m_ui->Command3, &QPushButton::clicked, this, &QDialog::close);
    connect(m_ui->chkEnable, &QCheckBox::toggled, m_ui->cmbSource, &QWidget::setEnabled);
    Form_Load();
}

frmSettings::~frmSettings() = default;

bool frmSettings::isNumber(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value);
}

void frmSettings::Form_Load()
{
    m_ui->chkAuto->setChecked(m_settings.get(Keys::DisplayAuto) == QLatin1String("1"));
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    addPrinter();
    addTheme();
    addVoice();
    addInput();
    addcount();
    showStored();
}

void frmSettings::addPrinter()
{
    m_ui->cmbPrinter->clear();
    // System printers first, then thermal printers on this machine's device files; a network
    // thermal printer is typed in as escpos://HOST[:PORT].
    const QStringList printers = QPrinterInfo::availablePrinterNames() + EscPosPrinter::deviceNames();
    if (printers.isEmpty())
        m_ui->cmbPrinter->addItem(tr("(No Printer Installed)"));
    else
        m_ui->cmbPrinter->addItems(printers);
    m_ui->cmbPrinter->lineEdit()->setPlaceholderText(QStringLiteral("escpos://HOST[:PORT]"));
    m_ui->cmbPrinter->setToolTip(tr("A system printer, or a thermal printer: escpos://HOST[:PORT] on the network, "
                                    "escpos:///dev/usb/lp0 on a device file"));
}

void frmSettings::addTheme()
{
    m_ui->cmbTheme->clear();
    try {
        QSqlQuery q = m_connection.db()->run(QStringLiteral("SELECT themename FROM tbltheme ORDER BY themeauto"));
        while (q.next())
            m_ui->cmbTheme->addItem(q.value(0).toString());
    } catch (const DbError&) {
        // The list stays empty; the stored theme is still shown and saved as typed.
    }
}

void frmSettings::refreshThemes()
{
    const QString shown = m_ui->cmbTheme->currentText();
    addTheme();
    showText(m_ui->cmbTheme, shown);
}

void frmSettings::addVoice()
{
    m_ui->cmbVoice->clear();
    m_speech = m_speechFactory ? m_speechFactory() : nullptr;
    m_voiceError.clear();
    if (!m_speech) {
        m_voiceError = tr("No speech engine is installed on this station.");
        return;
    }
    connect(m_speech.get(), &SpeechEngine::finished, this, [this] {
        m_speaking = false;
        sayNext();
    });
    m_voiceError = m_speech->error();
    if (m_voiceError.isEmpty())
        m_ui->cmbVoice->addItems(m_speech->voices());
}

void frmSettings::addInput()
{
    m_ui->cmbSource->clear();
    for (const QCameraDevice& device : QMediaDevices::videoInputs())
        m_ui->cmbSource->addItem(device.description());
}

void frmSettings::addcount()
{
    m_ui->cmbService->clear();
    try {
        QSqlQuery q = m_connection.db()->run(
            QStringLiteral("SELECT contName FROM tblCounter WHERE active='1' ORDER BY cntAuto"));
        while (q.next())
            m_ui->cmbService->addItem(q.value(0).toString());
    } catch (const DbError&) {
    }
}

void frmSettings::showStored()
{
    m_ui->txtPrint->setText(m_settings.get(Keys::PrintNos));
    m_ui->txtWebAddress->setText(m_settings.get(Keys::WebAddress));
    showText(m_ui->cmbTicket, m_settings.get(Keys::TicketScreen));
    showText(m_ui->cmbService, m_settings.get(Keys::TicketTransfer));
    showText(m_ui->cmbScreen, m_settings.get(Keys::ThemeScreen));
    showText(m_ui->cmbPrinter, m_settings.get(Keys::PrinterName));
    m_ui->cmbPaper->setCurrentIndex(EscPos::paperWidth(m_settings.get(Keys::PrinterWidth)) == EscPos::kPaper58 ? 1 : 0);
    m_ui->txtRHeight->setText(m_settings.get(Keys::PrinterRow));
    const int voice = m_settings.getInt(Keys::VoiceName);
    m_ui->cmbVoice->setCurrentIndex(voice < m_ui->cmbVoice->count() ? voice : -1);
    m_ui->txtFormat->setPlainText(m_settings.get(Keys::VoiceFormat));
    m_ui->txtSpeed->setText(m_settings.get(Keys::ScrollSpeed));
    showText(m_ui->cmbTheme, m_settings.get(Keys::ThemeTheme, kShownTheme));
    showText(m_ui->cmbCut, m_settings.get(Keys::ThemeCut));
    m_ui->txtVspeed->setText(m_settings.get(Keys::VoiceSpeed));
    m_ui->chkEnable->setChecked(m_settings.get(Keys::VideoIn) == QLatin1String("1"));
    m_ui->cmbSource->setEnabled(m_ui->chkEnable->isChecked());
    const int source = m_settings.getInt(Keys::VideoSource);
    m_ui->cmbSource->setCurrentIndex(source >= 0 && source < m_ui->cmbSource->count() ? source : -1);
}

// A copy count that is not a whole number of at least one would print no ticket at all for a
// token that is stored nevertheless: such a value becomes one copy.
void frmSettings::fixCopies()
{
    bool ok = false;
    const double copies = m_ui->txtPrint->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(copies) || std::lround(copies) < 1 || copies > std::numeric_limits<qint16>::max())
        m_ui->txtPrint->setText(QStringLiteral("1"));
}

void frmSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Said when the window is first seen: the administrator login's save never shows it.
    if (!m_voiceError.isEmpty() && !m_voiceErrorShown) {
        m_voiceErrorShown = true;
        const QString error = m_voiceError;
        QTimer::singleShot(0, this, [this, error] { m_prompt.alert(Prompt::Icon::Exclamation, error); });
    }
}

bool frmSettings::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->txtPrint && event->type() == QEvent::FocusOut)
        fixCopies();
    return QDialog::eventFilter(watched, event);
}

bool frmSettings::Command1_Click()
{
    // Before anything is stored: every ticket would carry a code no phone can open.
    const std::optional<QString> webAddress = tallyvo::webAddress(m_ui->txtWebAddress->text());
    if (!webAddress) {
        m_prompt.alert(Prompt::Icon::Exclamation,
                       tr("The web address must be empty or an http:// or https:// address without ? or #, "
                          "such as https://queue.example.org"));
        m_ui->txtWebAddress->setFocus();
        m_ui->txtWebAddress->selectAll();
        return false;
    }
    m_ui->txtWebAddress->setText(*webAddress);

    m_settings.set(Keys::DisplayAuto, flag(m_ui->chkAuto->isChecked()));

    if (!isNumber(m_ui->txtRHeight->text()))
        m_ui->txtRHeight->setText(QStringLiteral("500"));
    if (!isNumber(m_ui->txtVspeed->text()))
        m_ui->txtVspeed->setText(QStringLiteral("5"));
    if (!isNumber(m_ui->txtSpeed->text()))
        m_ui->txtSpeed->setText(QStringLiteral("30"));
    // Save can be reached without "No. Print" losing the focus (Enter, the login's own save).
    fixCopies();

    const QString speedText = m_ui->txtSpeed->text();
    const double speed = speedText.trimmed().toDouble();
    const bool speedFits = speed >= std::numeric_limits<qint16>::min() && speed <= std::numeric_limits<qint16>::max();

    if (m_ui->cmbTheme->currentText().trimmed().isEmpty()) {
        m_prompt.alert(Prompt::Icon::Exclamation, tr("Cannot Save Please select a Theme"));
        m_settings.set(Keys::ScrollSpeed, speedText);
        return false;
    }

    m_settings.set(Keys::TicketScreen, m_ui->cmbTicket->currentText());
    m_settings.set(Keys::TicketTransfer, m_ui->cmbService->currentText());
    m_settings.set(Keys::PrintNos, m_ui->txtPrint->text());
    m_session.ticketCopies = static_cast<int>(std::lround(m_ui->txtPrint->text().trimmed().toDouble()));
    m_settings.set(Keys::PrinterName, m_ui->cmbPrinter->currentText());
    m_settings.set(Keys::PrinterWidth, QString::number(m_ui->cmbPaper->currentIndex() == 1 ? EscPos::kPaper58
                                                                                            : EscPos::kPaper80));
    m_settings.set(Keys::WebAddress, *webAddress);
    m_settings.set(Keys::PrinterRow, m_ui->txtRHeight->text());
    m_settings.set(Keys::VoiceName, QString::number(m_ui->cmbVoice->currentIndex()));
    m_settings.set(Keys::VoiceFormat, m_ui->txtFormat->toPlainText());
    m_settings.set(Keys::ScrollSpeed, speedText);
    m_settings.set(Keys::ThemeTheme, m_ui->cmbTheme->currentText());
    m_settings.set(Keys::VoiceSpeed, m_ui->txtVspeed->text());
    m_settings.set(Keys::ThemeScreen, m_ui->cmbScreen->currentText());
    m_settings.set(Keys::ThemeCut, m_ui->cmbCut->currentText());
    m_settings.set(Keys::VideoIn, flag(m_ui->chkEnable->isChecked()));
    m_settings.set(Keys::VideoSource, QString::number(m_ui->cmbSource->currentIndex()));

    try {
        emit themeKeyChanged(
            modSub::getThemeKey(*m_connection.db(), m_settings.get(Keys::ThemeTheme, QStringLiteral("Black"))));
    } catch (const DbError&) {
        // The main window keeps its theme key; the next save or start-up tries again.
    }
    if (speedFits)
        emit scrollSpeedChanged(static_cast<int>(std::lround(speed)));
    emit saved();
    close();
    return true;
}

void frmSettings::Command2_Click()
{
    if (!m_voiceError.isEmpty()) {
        m_prompt.alert(Prompt::Icon::Exclamation, m_voiceError);
        return;
    }
    // Earlier speech is let finish first; the test text waits its turn.
    m_toSay << m_ui->txtFormat->toPlainText();
    sayNext();
}

void frmSettings::sayNext()
{
    if (m_speaking || m_toSay.isEmpty() || !m_speech)
        return;
    m_speech->setVoice(m_ui->cmbVoice->currentIndex());
    m_speaking = true;
    m_speech->say(m_toSay.takeFirst());
}

} // namespace tallyvo
