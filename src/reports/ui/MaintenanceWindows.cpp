#include "reports/ui/MaintenanceWindows.h"

#include "ui_frmBackup.h"
#include "ui_frmcallDelete.h"

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Database.h"
#include "core/Prompt.h"
#include "reports/Backup.h"
#include "reports/ClearData.h"
#include "widgets/Grid.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QPushButton>

namespace tallyvo {

namespace {

// Long work shows the wait cursor.
struct Busy {
    Busy() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Busy() { QGuiApplication::restoreOverrideCursor(); }
};

} // namespace

// ---- Clear Data -------------------------------------------------------------------------------

frmClearData::frmClearData(Connection& connection, Session& session, const Clock& clock, Prompt& prompt,
                           QWidget* parent)
    : ReportWindow(ReportKind::Department, connection, session, clock, prompt, parent)
    , m_delete(new QPushButton(tr("Delete Selected"), bottomPanel()))
{
    setObjectName(QStringLiteral("frmClearData"));
    setWindowTitle(tr("Clear Data"));
    m_delete->setObjectName(QStringLiteral("Command3"));
    m_delete->setAutoDefault(false);
    m_delete->setGeometry(closeButton()->geometry().translated(-closeButton()->width() - 40, 0));
    m_delete->resize(qMax(m_delete->sizeHint().width(), closeButton()->width()), closeButton()->height());
    connect(m_delete, &QPushButton::clicked, this, &frmClearData::Command3_Click);
}

void frmClearData::placeButtons(int widthTwips)
{
    closeButton()->move(twipsToX(widthTwips - 1900), closeButton()->y());
    m_delete->move(twipsToX(widthTwips - 3800), closeButton()->y());
}

void frmClearData::Command3_Click()
{
    if (m_prompt.question(tr("Are you want to Delete?") + QString(14, QLatin1Char(' ')))) {
        // The selection is read from the whole report, not from one still growing under it.
        finishFill();
        Grid* fg = grid();
        // Rows between where the selection started and where it ended, in either direction.
        const int from = qMax(1, qMin(fg->row(), fg->selectedRow()));
        const int to = qMax(fg->row(), fg->selectedRow());
        QStringList keys;
        for (int i = to; i >= from; --i)
            keys << fg->textMatrix(i, 0);
        try {
            ClearData::deleteTickets(*m_connection.db(), keys);
        } catch (const DbError& e) {
            m_prompt.message(e.text());
        }
    }
    addFG();
}

// ---- Delete Call Data -------------------------------------------------------------------------

frmcallDelete::frmcallDelete(Connection& connection, const Clock& clock, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmcallDelete>())
    , m_connection(connection)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    m_ui->dtFrom->setDate(clock.today());
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    connect(m_ui->Command1, &QPushButton::clicked, this, &frmcallDelete::Command1_Click);
}

frmcallDelete::~frmcallDelete() = default;

void frmcallDelete::Command1_Click()
{
    if (!m_prompt.question(tr("Do you want to Delete ")))
        return;
    try {
        const int deleted = ClearData::deleteCallsBefore(*m_connection.db(), m_ui->dtFrom->date());
        m_prompt.message(tr("Successfully Deleted ") + QString::number(deleted));
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
}

// ---- Backup & Restore -------------------------------------------------------------------------

frmBackup::frmBackup(Connection& connection, const Clock& clock, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmBackup>())
    , m_connection(connection)
    , m_clock(clock)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    connect(m_ui->Command1, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ui->Command2, &QPushButton::clicked, this, &frmBackup::Command2_Click);
    connect(m_ui->Command3, &QPushButton::clicked, this, &frmBackup::Command3_Click);
    connect(m_ui->Command4, &QPushButton::clicked, this, &frmBackup::Command4_Click);
    connect(m_ui->Command5, &QPushButton::clicked, this, &frmBackup::Command5_Click);
}

frmBackup::~frmBackup() = default;

void frmBackup::Command2_Click()
{
    const QString file = m_prompt.openFileName(tr("Restore From"), tr("Backups (*.mdb *.dump);;All files (*)"));
    if (!file.isEmpty())
        m_ui->Text1->setText(file);
}

void frmBackup::Command5_Click()
{
    const QString folder = m_prompt.folder(tr("Click on a directory to Backup "));
    if (!folder.isEmpty())
        m_ui->Text2->setText(folder);
}

template <typename Work>
Backup::Result frmBackup::withProgress(const QString& label, Work work)
{
    // The work runs here, between looks at the dialog: the windows keep drawing, the progress
    // moves and "Cancel" stops it. Nothing else takes input meanwhile, since the work holds this
    // station's connection.
    QProgressDialog progress(label, tr("Cancel"), 0, 100, this);
    progress.setObjectName(QStringLiteral("backupProgress"));
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(300);
    progress.setAutoReset(false);
    progress.setValue(0);
    Backup::Control control;
    control.progress = [&progress](int percent) {
        progress.setValue(percent);
        QCoreApplication::processEvents();
    };
    control.cancelled = [&progress] {
        QCoreApplication::processEvents();
        return progress.wasCanceled();
    };
    Busy busy;
    return work(control);
}

void frmBackup::Command4_Click()
{
    // Without a folder the user is asked for one; never a backup into some default place.
    if (m_ui->Text2->text().isEmpty())
        Command5_Click();
    if (m_ui->Text2->text().isEmpty())
        return;
    if (!m_prompt.question(tr("Do you want to backup")))
        return;
    if (!m_connection.db()->isOpen() && !m_connection.connectDb())
        return;
    const QString folder = m_ui->Text2->text();
    const Backup::Result r = withProgress(tr("Writing the backup..."), [&](const Backup::Control& control) {
        return Backup::backup(*m_connection.db(), folder, control);
    });
    switch (r.status) {
    case Backup::Status::Done:
        m_prompt.message(tr("Backup Completed Successfully ") + QLatin1Char('\n') + r.path);
        break;
    case Backup::Status::SameFolder:
        m_prompt.message(tr("Select a different folder "));
        break;
    case Backup::Status::Cancelled:
        break;
    default:
        m_prompt.message(r.message);
        break;
    }
}

void frmBackup::Command3_Click()
{
    const QString source = m_ui->Text1->text();
    if (!m_connection.db()->isOpen() && !m_connection.connectDb())
        return;
    const Database& db = *m_connection.db();
    if (db.engine() == Engine::Sqlite && !source.isEmpty() && QFileInfo(source) == QFileInfo(db.url().path)) {
        m_prompt.message(tr("Source file should not be same"));
        return;
    }
    // The backup is looked at whole before anyone is asked: what is no backup is refused, and the
    // question says what the restore would take from the site.
    Backup::Loss loss;
    if (!source.isEmpty()) {
        const Backup::Result checked = withProgress(tr("Checking the backup..."), [&](const Backup::Control& control) {
            return Backup::check(db, source, m_clock, &loss, control);
        });
        if (checked.status == Backup::Status::Cancelled)
            return;
        if (checked.status != Backup::Status::Done) {
            m_prompt.message(tr("Error ") + QStringLiteral("\r\n") + checked.message);
            return;
        }
    }
    const QString lost = loss.text();
    const std::optional<QString> answer =
        m_prompt.input((lost.isEmpty() ? QString() : lost + QStringLiteral("\n\n")) + tr("Type 'Yes' to Restore "));
    if (!answer || answer->trimmed().toUpper() != QLatin1String("YES"))
        return;
    if (source.isEmpty())
        return;
    const Backup::Result r = withProgress(tr("Restoring..."), [&](const Backup::Control& control) {
        try {
            return Backup::restore(db, source, control);
        } catch (const DbError& e) {
            Backup::Result failed;
            failed.message = e.text();
            return failed;
        }
    });
    const QString kept = r.safetyCopy.isEmpty()
        ? QString()
        : QLatin1Char('\n') + tr("The database as it was before is kept in %1").arg(r.safetyCopy);
    switch (r.status) {
    case Backup::Status::Done:
        m_prompt.message(tr("Restore Complete!") + kept, tr("RESTORE SUCCESSFUL"));
        break;
    case Backup::Status::SameFile:
        m_prompt.message(tr("Source file should not be same"));
        break;
    case Backup::Status::NotUpgraded:
        m_prompt.alert(Prompt::Icon::Exclamation,
                       tr("The backup was restored, but its schema could not be brought up to date: %1").arg(r.message) +
                           kept,
                       QStringLiteral(" "));
        break;
    case Backup::Status::Failed:
    case Backup::Status::Busy:
    case Backup::Status::Cancelled:
        m_prompt.message(r.message + kept, QStringLiteral(" "));
        break;
    default:
        m_prompt.message(tr("Error ") + QStringLiteral("\r\n") + r.message);
        break;
    }
}

void frmBackup::closeEvent(QCloseEvent* event)
{
    // The station works on the database as it now is, restored or not.
    m_connection.connectDb();
    QWidget::closeEvent(event);
}

} // namespace tallyvo
