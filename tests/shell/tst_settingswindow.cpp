#include "ShellStation.h"

#include "core/Database.h"
#include "widgets/ClockFace.h"
#include "shell/frmSettings.h"
#include "tokens/EscPosPrinter.h"
#include "widgets/frmclklst.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPainter>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace tallyvo;

class tst_settingswindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstRunShowsDefaults();
    void storedValuesAreShown();
    void saveStoresEveryValueAndApplies();
    void saveCorrectsNonNumbers();
    void emptyThemeIsRefused();
    void webAddressIsCheckedOnSave_data();
    void webAddressIsCheckedOnSave();
    void unknownThemeGivesKeyZero();
    void copiesBecomeOneWhenNotACount();
    void inputSourceFollowsEnable();
    void command3ClosesWithoutSaving();
    void testVoiceSpeaksTemplateLiterally();
    void speechErrorIsShownWhenSeenNotOnSilentSave();
    void clockPickerListsAndSelects();
    void clockHandAngles();
};

void tst_settingswindow::firstRunShowsDefaults()
{
    test::ShellStation st;
    frmSettings w(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    QCOMPARE(w.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(test::control<QLineEdit>(&w, "txtSpeed")->text(), QStringLiteral("30"));
    QCOMPARE(test::control<QLineEdit>(&w, "txtRHeight")->text(), QStringLiteral("500"));
    QCOMPARE(test::control<QLineEdit>(&w, "txtPrint")->text(), QStringLiteral("1"));
    QCOMPARE(test::control<QLineEdit>(&w, "txtWebAddress")->text(), QString());
    QCOMPARE(test::control<QLineEdit>(&w, "txtVspeed")->text(), QStringLiteral("0"));
    QCOMPARE(test::control<QPlainTextEdit>(&w, "txtFormat")->toPlainText(),
             QStringLiteral("Tocken number * please move to the  ,#"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbTheme")->currentText(), QStringLiteral("Black H"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbScreen")->currentText(), QStringLiteral("Single"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbTicket")->currentText(), QStringLiteral("Normal"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbCut")->currentText(), QStringLiteral("F"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbPrinter")->currentText(), QString());
    QCOMPARE(test::control<QComboBox>(&w, "cmbService")->currentText(), QString());
    QCOMPARE(test::control<QComboBox>(&w, "cmbVoice")->currentIndex(), 0);
    QCOMPARE(test::control<QComboBox>(&w, "cmbSource")->currentIndex(), -1);
    QVERIFY(!test::control<QCheckBox>(&w, "chkAuto")->isChecked());
    QVERIFY(!test::control<QCheckBox>(&w, "chkEnable")->isChecked());
    QVERIFY(!test::control<QComboBox>(&w, "cmbSource")->isEnabled());

    // The lists: the database's themes and active counters, the engine's voices, the printers.
    auto* themes = test::control<QComboBox>(&w, "cmbTheme");
    QStringList names;
    for (int i = 0; i < themes->count(); ++i)
        names << themes->itemText(i);
    QCOMPARE(names, (QStringList{QStringLiteral("Black H"), QStringLiteral("HR1")}));
    QCOMPARE(test::control<QComboBox>(&w, "cmbService")->count(), 3);
    QCOMPARE(test::control<QComboBox>(&w, "cmbService")->itemText(0), QStringLiteral("Counter 1"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbVoice")->count(), 2);
    auto* printers = test::control<QComboBox>(&w, "cmbPrinter");
    // System printers, then the thermal printers on this machine's device files.
    const QStringList offered = QPrinterInfo::availablePrinterNames() + EscPosPrinter::deviceNames();
    if (offered.isEmpty()) {
        QCOMPARE(printers->count(), 1);
        QCOMPARE(printers->itemText(0), QStringLiteral("(No Printer Installed)"));
    } else {
        QCOMPARE(printers->count(), offered.size());
        QCOMPARE(printers->itemText(offered.size() - 1), offered.last());
    }
    QCOMPARE(test::control<QComboBox>(&w, "cmbPaper")->currentText(), QStringLiteral("80 mm"));
    // Loading writes nothing.
    QVERIFY(!st.has(Keys::ThemeTheme));
    QVERIFY(st.prompt.messages.isEmpty());
}

void tst_settingswindow::storedValuesAreShown()
{
    test::ShellStation st;
    st.temp.db().run(QStringLiteral("UPDATE tblCounter SET active='0' WHERE contName=?"), {QStringLiteral("Counter 2")});
    SettingsStore& s = st.settings.store;
    s.set(Keys::DisplayAuto, QStringLiteral("1"));
    s.set(Keys::ThemeTheme, QStringLiteral("HR1"));
    s.set(Keys::ThemeScreen, QStringLiteral("Dual"));
    s.set(Keys::ThemeCut, QStringLiteral("Partial"));
    s.set(Keys::TicketScreen, QStringLiteral("Full Screen"));
    s.set(Keys::TicketTransfer, QStringLiteral("Counter 3"));
    s.set(Keys::PrinterName, QStringLiteral("Front desk"));
    s.set(Keys::VoiceName, QStringLiteral("1"));
    s.set(Keys::VoiceFormat, QStringLiteral("Token *\nto #"));
    s.set(Keys::VideoIn, QStringLiteral("1"));
    frmSettings w(s, st.session, st.connection, st.prompt, st.services().speech);
    QVERIFY(test::control<QCheckBox>(&w, "chkAuto")->isChecked());
    QCOMPARE(test::control<QComboBox>(&w, "cmbTheme")->currentIndex(), 1);
    QCOMPARE(test::control<QComboBox>(&w, "cmbScreen")->currentIndex(), 0);
    QCOMPARE(test::control<QComboBox>(&w, "cmbCut")->currentIndex(), 1);
    QCOMPARE(test::control<QComboBox>(&w, "cmbTicket")->currentText(), QStringLiteral("Full Screen"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbService")->count(), 2); // inactive counters are not offered
    QCOMPARE(test::control<QComboBox>(&w, "cmbService")->currentText(), QStringLiteral("Counter 3"));
    // A printer that is not installed here is kept, not lost on the next save.
    QCOMPARE(test::control<QComboBox>(&w, "cmbPrinter")->currentText(), QStringLiteral("Front desk"));
    QCOMPARE(test::control<QComboBox>(&w, "cmbVoice")->currentIndex(), 1);
    QCOMPARE(test::control<QPlainTextEdit>(&w, "txtFormat")->toPlainText(), QStringLiteral("Token *\nto #"));
    QVERIFY(test::control<QCheckBox>(&w, "chkEnable")->isChecked());
    QVERIFY(test::control<QComboBox>(&w, "cmbSource")->isEnabled());
}

void tst_settingswindow::saveStoresEveryValueAndApplies()
{
    test::ShellStation st;
    st.session.ticketCopies = 1;
    QPointer<frmSettings> w =
        new frmSettings(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    w->show();
    QSignalSpy themeKey(w.data(), &frmSettings::themeKeyChanged);
    QSignalSpy speed(w.data(), &frmSettings::scrollSpeedChanged);
    test::control<QCheckBox>(w, "chkAuto")->setChecked(true);
    test::control<QComboBox>(w, "cmbTheme")->setCurrentIndex(1); // HR1
    test::control<QComboBox>(w, "cmbScreen")->setCurrentIndex(0);
    test::control<QComboBox>(w, "cmbCut")->setCurrentIndex(1);
    test::control<QComboBox>(w, "cmbTicket")->setCurrentIndex(0);
    test::control<QComboBox>(w, "cmbService")->setCurrentIndex(2);
    test::control<QComboBox>(w, "cmbVoice")->setCurrentIndex(1);
    test::control<QLineEdit>(w, "txtPrint")->setText(QStringLiteral("3"));
    test::control<QLineEdit>(w, "txtRHeight")->setText(QStringLiteral("620"));
    test::control<QLineEdit>(w, "txtSpeed")->setText(QStringLiteral("45"));
    test::control<QLineEdit>(w, "txtVspeed")->setText(QStringLiteral("-2"));
    test::control<QPlainTextEdit>(w, "txtFormat")->setPlainText(QStringLiteral("Number * to #"));
    test::control<QCheckBox>(w, "chkEnable")->setChecked(true);
    // A network thermal printer is typed in.
    test::control<QComboBox>(w, "cmbPrinter")->setEditText(QStringLiteral("escpos://192.0.2.7:9101"));
    test::control<QComboBox>(w, "cmbPaper")->setCurrentIndex(1);

    QTest::mouseClick(test::control<QPushButton>(w, "Command1"), Qt::LeftButton);
    QVERIFY(st.prompt.messages.isEmpty());
    QCOMPARE(st.get(Keys::DisplayAuto), QStringLiteral("1"));
    QCOMPARE(st.get(Keys::ThemeTheme), QStringLiteral("HR1"));
    QCOMPARE(st.get(Keys::ThemeScreen), QStringLiteral("Dual"));
    QCOMPARE(st.get(Keys::ThemeCut), QStringLiteral("Partial"));
    QCOMPARE(st.get(Keys::TicketScreen), QStringLiteral("Full Screen"));
    QCOMPARE(st.get(Keys::TicketTransfer), QStringLiteral("Counter 3"));
    QCOMPARE(st.get(Keys::PrintNos), QStringLiteral("3"));
    QCOMPARE(st.get(Keys::PrinterRow), QStringLiteral("620"));
    QCOMPARE(st.get(Keys::ScrollSpeed), QStringLiteral("45"));
    QCOMPARE(st.get(Keys::VoiceSpeed), QStringLiteral("-2"));
    QCOMPARE(st.get(Keys::VoiceName), QStringLiteral("1"));
    QCOMPARE(st.get(Keys::VoiceFormat), QStringLiteral("Number * to #"));
    QCOMPARE(st.get(Keys::VideoIn), QStringLiteral("1"));
    QCOMPARE(st.get(Keys::VideoSource), QStringLiteral("-1")); // no capture device here
    QCOMPARE(st.get(Keys::PrinterName), QStringLiteral("escpos://192.0.2.7:9101"));
    QCOMPARE(st.get(Keys::PrinterWidth), QStringLiteral("58"));
    QCOMPARE(st.session.ticketCopies, 3);
    QCOMPARE(themeKey.size(), 1);
    QCOMPARE(themeKey.at(0).at(0).toInt(),
             st.temp.db().scalar(QStringLiteral("SELECT themeauto FROM tbltheme WHERE themename='HR1'")).toInt());
    QCOMPARE(speed.size(), 1);
    QCOMPARE(speed.at(0).at(0).toInt(), 45);
    QTRY_VERIFY(w.isNull()); // closed and gone
}

void tst_settingswindow::saveCorrectsNonNumbers()
{
    test::ShellStation st;
    frmSettings w(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    QSignalSpy speed(&w, &frmSettings::scrollSpeedChanged);
    test::control<QLineEdit>(&w, "txtRHeight")->setText(QStringLiteral("tall"));
    test::control<QLineEdit>(&w, "txtVspeed")->setText(QStringLiteral("fast"));
    test::control<QLineEdit>(&w, "txtSpeed")->setText(QString());
    QVERIFY(w.Command1_Click());
    QCOMPARE(st.get(Keys::PrinterRow), QStringLiteral("500"));
    QCOMPARE(st.get(Keys::VoiceSpeed), QStringLiteral("5"));
    QCOMPARE(st.get(Keys::ScrollSpeed), QStringLiteral("30"));
    QCOMPARE(speed.at(0).at(0).toInt(), 30);
    // The shown default theme name is saved as it stands.
    QCOMPARE(st.get(Keys::ThemeTheme), QStringLiteral("Black H"));
    QVERIFY(frmSettings::isNumber(QStringLiteral(" 12 ")));
    QVERIFY(frmSettings::isNumber(QStringLiteral("-1.5")));
    QVERIFY(!frmSettings::isNumber(QStringLiteral("12a")));
    QVERIFY(!frmSettings::isNumber(QStringLiteral("inf")));
}

void tst_settingswindow::emptyThemeIsRefused()
{
    test::ShellStation st;
    QPointer<frmSettings> w =
        new frmSettings(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    w->show();
    QSignalSpy themeKey(w.data(), &frmSettings::themeKeyChanged);
    test::control<QCheckBox>(w, "chkAuto")->setChecked(true);
    test::control<QComboBox>(w, "cmbTheme")->setEditText(QString());
    test::control<QLineEdit>(w, "txtSpeed")->setText(QStringLiteral("slow"));
    test::control<QLineEdit>(w, "txtPrint")->setText(QStringLiteral("4"));
    QVERIFY(!w->Command1_Click());
    QCOMPARE(st.prompt.messages, QStringList{QStringLiteral("Cannot Save Please select a Theme")});
    // Only the automatic start and the (corrected) scroll speed are kept.
    QCOMPARE(st.get(Keys::DisplayAuto), QStringLiteral("1"));
    QCOMPARE(st.get(Keys::ScrollSpeed), QStringLiteral("30"));
    QVERIFY(!st.has(Keys::ThemeTheme));
    QVERIFY(!st.has(Keys::PrintNos));
    QCOMPARE(st.session.ticketCopies, 1);
    QCOMPARE(themeKey.size(), 0);
    QApplication::processEvents();
    QVERIFY(!w.isNull() && w->isVisible());
    delete w;
}

void tst_settingswindow::webAddressIsCheckedOnSave_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("stored");
    QTest::newRow("empty: no web station") << QString() << true << QString();
    QTest::newRow("https") << QStringLiteral("https://queue.example.org") << true
                           << QStringLiteral("https://queue.example.org");
    QTest::newRow("trailing slash dropped") << QStringLiteral(" http://10.0.0.5:8080/queue/ ") << true
                                            << QStringLiteral("http://10.0.0.5:8080/queue");
    QTest::newRow("no scheme") << QStringLiteral("queue.example.org") << false << QString();
    QTest::newRow("other scheme") << QStringLiteral("ftp://queue.example.org") << false << QString();
    QTest::newRow("query") << QStringLiteral("https://queue.example.org/?site=2") << false << QString();
    QTest::newRow("fragment") << QStringLiteral("https://queue.example.org/#top") << false << QString();
}

void tst_settingswindow::webAddressIsCheckedOnSave()
{
    QFETCH(QString, typed);
    QFETCH(bool, saved);
    QFETCH(QString, stored);
    test::ShellStation st;
    st.settings.store.set(Keys::WebAddress, QStringLiteral("https://old.example.org"));
    QPointer<frmSettings> w =
        new frmSettings(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.data()));
    auto* box = test::control<QLineEdit>(w, "txtWebAddress");
    QCOMPARE(box->text(), QStringLiteral("https://old.example.org"));
    QCOMPARE(box->accessibleName(), QStringLiteral("Web Address"));
    QCOMPARE(box->placeholderText(), QStringLiteral("https://queue.example.org"));
    test::control<QLineEdit>(w, "txtPrint")->setText(QStringLiteral("2"));
    box->setText(typed);

    QCOMPARE(w->Command1_Click(), saved);
    if (saved) {
        QVERIFY(st.prompt.messages.isEmpty());
        QCOMPARE(st.get(Keys::WebAddress), stored);
        QCOMPARE(st.get(Keys::PrintNos), QStringLiteral("2"));
        QTRY_VERIFY(w.isNull());
        return;
    }
    // Refused before anything is stored; the box has the focus to be put right.
    QCOMPARE(st.prompt.messages.size(), 1);
    QVERIFY2(st.prompt.messages.first().contains(QLatin1String("https://queue.example.org")),
             qPrintable(st.prompt.messages.first()));
    QCOMPARE(st.get(Keys::WebAddress), QStringLiteral("https://old.example.org"));
    QVERIFY(!st.has(Keys::PrintNos));
    QCOMPARE(st.session.ticketCopies, 1);
    QApplication::processEvents();
    QVERIFY(!w.isNull() && w->isVisible());
    QCOMPARE(w->focusWidget(), box);
    QCOMPARE(box->text(), typed);
    // TALLYVO_SHOTS=<folder> keeps a picture of the window for a person to look at.
    if (const QString folder = qEnvironmentVariable("TALLYVO_SHOTS"); !folder.isEmpty())
        w->grab().save(QDir(folder).filePath(QStringLiteral("settings-web-address.png")));
    delete w;
}

void tst_settingswindow::unknownThemeGivesKeyZero()
{
    test::ShellStation st;
    frmSettings w(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    QSignalSpy themeKey(&w, &frmSettings::themeKeyChanged);
    test::control<QComboBox>(&w, "cmbTheme")->setEditText(QStringLiteral("Gone's theme"));
    QVERIFY(w.Command1_Click());
    QCOMPARE(st.get(Keys::ThemeTheme), QStringLiteral("Gone's theme"));
    QCOMPARE(themeKey.at(0).at(0).toInt(), 0);
}

void tst_settingswindow::copiesBecomeOneWhenNotACount()
{
    test::ShellStation st;
    frmSettings w(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* copies = test::control<QLineEdit>(&w, "txtPrint");
    for (const QString& bad : {QStringLiteral("two"), QStringLiteral("0"), QStringLiteral("-3"), QString()}) {
        copies->setFocus();
        copies->setText(bad);
        test::control<QLineEdit>(&w, "txtSpeed")->setFocus(); // leaving the box corrects it
        QCOMPARE(copies->text(), QStringLiteral("1"));
    }
    copies->setText(QStringLiteral("2"));
    test::control<QLineEdit>(&w, "txtRHeight")->setFocus();
    QCOMPARE(copies->text(), QStringLiteral("2"));
    // A save reached without leaving the box (Enter) corrects it too.
    copies->setFocus();
    copies->setText(QStringLiteral("many"));
    st.session.ticketCopies = 7;
    QVERIFY(w.Command1_Click());
    QCOMPARE(st.get(Keys::PrintNos), QStringLiteral("1"));
    QCOMPARE(st.session.ticketCopies, 1);
}

void tst_settingswindow::inputSourceFollowsEnable()
{
    test::ShellStation st;
    frmSettings w(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    auto* enable = test::control<QCheckBox>(&w, "chkEnable");
    auto* source = test::control<QComboBox>(&w, "cmbSource");
    QVERIFY(!source->isEnabled());
    enable->click();
    QVERIFY(source->isEnabled());
    enable->click();
    QVERIFY(!source->isEnabled());
}

void tst_settingswindow::command3ClosesWithoutSaving()
{
    test::ShellStation st;
    QPointer<frmSettings> w =
        new frmSettings(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    w->show();
    auto* tiny = test::control<QPushButton>(w, "Command3");
    QCOMPARE(tiny->text(), QStringLiteral("Command3"));
    QCOMPARE(tiny->pos(), QPoint(0, 0));
    QVERIFY(tiny->width() < 16 && tiny->height() < 16);
    test::control<QLineEdit>(w, "txtSpeed")->setText(QStringLiteral("99"));
    QTest::mouseClick(tiny, Qt::LeftButton);
    QTRY_VERIFY(w.isNull());
    QVERIFY(!st.has(Keys::ScrollSpeed));
    QVERIFY(!st.has(Keys::DisplayAuto));
}

void tst_settingswindow::testVoiceSpeaksTemplateLiterally()
{
    test::ShellStation st;
    frmSettings w(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    QCOMPARE(st.engines.size(), 1);
    test::RecordingSpeech* engine = st.engines.first();
    engine->autoFinish = false;
    test::control<QComboBox>(&w, "cmbVoice")->setCurrentIndex(1);
    QTest::mouseClick(test::control<QPushButton>(&w, "Command2"), Qt::LeftButton);
    QCOMPARE(engine->said, QStringList{QStringLiteral("Tocken number * please move to the  ,#")});
    QCOMPARE(engine->voice, 1);
    // A second test waits for the first to be spoken.
    test::control<QPlainTextEdit>(&w, "txtFormat")->setPlainText(QStringLiteral("again"));
    QTest::mouseClick(test::control<QPushButton>(&w, "Command2"), Qt::LeftButton);
    QCOMPARE(engine->said.size(), 1);
    engine->finishNow();
    QCOMPARE(engine->said.size(), 2);
    QCOMPARE(engine->said.last(), QStringLiteral("again"));
    QVERIFY(st.prompt.messages.isEmpty());
}

void tst_settingswindow::speechErrorIsShownWhenSeenNotOnSilentSave()
{
    test::ShellStation st;
    st.speechFailure = QStringLiteral("Connection to speech-dispatcher failed");
    {
        // The administrator login's save: no window on screen, no message.
        frmSettings silent(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
        QVERIFY(silent.Command1_Click());
        QApplication::processEvents();
        QVERIFY(st.prompt.messages.isEmpty());
    }
    frmSettings w(st.settings.store, st.session, st.connection, st.prompt, st.services().speech);
    QCOMPARE(test::control<QComboBox>(&w, "cmbVoice")->count(), 0);
    w.show();
    QTRY_COMPARE(st.prompt.messages, QStringList{st.speechFailure});
    QTest::mouseClick(test::control<QPushButton>(&w, "Command2"), Qt::LeftButton);
    QCOMPARE(st.prompt.messages.size(), 2);
    QVERIFY(st.engines.last()->said.isEmpty());
}

void tst_settingswindow::clockPickerListsAndSelects()
{
    // The faces shipped beside the program.
    frmclklst shipped;
    QVERIFY2(shipped.files().size() >= 3, qPrintable(shipped.folder()));
    for (const QString& file : shipped.files()) {
        ClockFace face;
        QVERIFY2(face.load(QDir(shipped.folder()).filePath(file)), qPrintable(file));
    }

    // A folder of its own: only SVG files, in name order.
    QTemporaryDir dir;
    QFile::copy(QDir(shipped.folder()).filePath(shipped.files().first()), dir.filePath(QStringLiteral("b.svg")));
    QFile::copy(QDir(shipped.folder()).filePath(shipped.files().first()), dir.filePath(QStringLiteral("a.svg")));
    QFile notes(dir.filePath(QStringLiteral("notes.txt")));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();

    QPointer<frmclklst> w = new frmclklst(nullptr, dir.path());
    QCOMPARE(w->windowTitle(), QStringLiteral("Select Clock"));
    QCOMPARE(w->files(), (QStringList{QStringLiteral("a.svg"), QStringLiteral("b.svg")}));
    QVERIFY(!w->preview()->hasFace());
    w->show();
    QSignalSpy chosen(w.data(), &frmclklst::clockSelected);
    auto* list = test::control<QListWidget>(w, "fle");
    list->setCurrentRow(1);
    QVERIFY(w->preview()->hasFace());
    QCOMPARE(w->preview()->file(), dir.filePath(QStringLiteral("b.svg")));
    QTest::mouseClick(test::control<QPushButton>(w, "Command1"), Qt::LeftButton);
    QCOMPARE(chosen.size(), 1);
    QCOMPARE(chosen.at(0).at(0).toString(), QStringLiteral("b.svg"));
    QTRY_VERIFY(w.isNull());

    // Nothing chosen: an empty name.
    frmclklst* none = new frmclklst(nullptr, dir.path());
    QSignalSpy empty(none, &frmclklst::clockSelected);
    none->Command1_Click();
    QCOMPARE(empty.at(0).at(0).toString(), QString());
}

void tst_settingswindow::clockHandAngles()
{
    QCOMPARE(ClockFace::hourAngle(QTime(0, 0)), 0.0);
    QCOMPARE(ClockFace::hourAngle(QTime(15, 30)), 105.0);
    QCOMPARE(ClockFace::minuteAngle(QTime(15, 30)), 180.0);
    QCOMPARE(ClockFace::secondAngle(QTime(15, 30, 45)), 270.0);

    // The hands really turn: at 3:00 the hour hand is right of the centre, at 9:00 left of it.
    frmclklst shipped;
    const QString file = QDir(shipped.folder()).filePath(QStringLiteral("station.svg"));
    ClockFace face;
    QVERIFY(face.load(file));
    auto darkRight = [&](const QTime& t) {
        QImage img(200, 200, QImage::Format_ARGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        face.paint(p, QRectF(0, 0, 200, 200), t);
        p.end();
        int right = 0, left = 0;
        // Across the middle, between the hub and the hour marks: only the hour hand is there.
        for (int x = 40; x <= 160; ++x) {
            if (x > 70 && x < 130)
                continue;
            if (qGray(img.pixel(x, 100)) < 40)
                (x > 100 ? right : left)++;
        }
        return std::make_pair(right, left);
    };
    auto [r3, l3] = darkRight(QTime(3, 0, 30));
    QVERIFY2(r3 > 10 && l3 == 0, qPrintable(QStringLiteral("%1 %2").arg(r3).arg(l3)));
    auto [r9, l9] = darkRight(QTime(9, 0, 30));
    QVERIFY2(l9 > 10 && r9 == 0, qPrintable(QStringLiteral("%1 %2").arg(r9).arg(l9)));
}

TALLYVO_TEST_MAIN(tst_settingswindow)
#include "tst_settingswindow.moc"
