// tallyvoctl's token and call commands, and many stations issuing and calling at the same moment:
// each process is a station with its own connection, as on a site.
#include "TestSupport.h"

#include <QApplication>
#include <QDate>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

using namespace tallyvo;

class tst_queuecli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void issueRefusesAtLimitAndKeepsDatesApart();
    void counterCommandsActOnTheirOwnTokens();
    void unknownNamesAreOneLineErrors();
    void concurrentIssuesGiveConsecutiveNumbers();
    void concurrentNextTakesEveryTokenOnce();
    void issuingAndCallingAtOnceKeepEveryCallRow();

private:
    struct Run {
        int code = -1;
        QStringList out; // lines
        QString err;
    };
    QStringList base() const { return {QStringLiteral("--db"), m_t->url().toString(true)}; }
    Run ctl(const QStringList& args) const;
    // Starts every command line at once and waits for all of them.
    std::vector<Run> together(const QList<QStringList>& commands) const;
    int scalar(const QString& sql, const QVariantList& values = {}) const
    {
        return m_t->db().scalar(sql, values).toInt();
    }
    static QString today() { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }

    std::unique_ptr<test::TempDatabase> m_t;
};

void tst_queuecli::init()
{
    m_t = std::make_unique<test::TempDatabase>();
    Database& db = m_t->db();
    db.run(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES ('Front', '', '1')"));
    const qint64 walkIn = db.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, "
                                                   "startno, endno, abrno) VALUES (1, 'Walk-in', '', '1', '100', "
                                                   "'9999', 'W') RETURNING servAuto"));
    db.run(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, abrno) "
                          "VALUES (1, 'Small', '', '1', '1', '1', 'S')"));
    for (int i = 1; i <= 4; ++i)
        db.run(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                              "VALUES (?, ?, ?, '', '', '1')"),
               {walkIn, QStringLiteral("Desk %1").arg(i), QStringLiteral("Room %1").arg(i)});
}

void tst_queuecli::cleanup()
{
    m_t.reset();
}

tst_queuecli::Run tst_queuecli::ctl(const QStringList& args) const
{
    return together({args}).front();
}

std::vector<tst_queuecli::Run> tst_queuecli::together(const QList<QStringList>& commands) const
{
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QStringList& args : commands) {
        auto p = std::make_unique<QProcess>();
        p->start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"), base() + args);
        processes.push_back(std::move(p));
    }
    std::vector<Run> runs;
    for (auto& p : processes) {
        Run r;
        if (p->waitForFinished(120000) && p->exitStatus() == QProcess::NormalExit)
            r.code = p->exitCode();
        r.out = QString::fromUtf8(p->readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        r.err = QString::fromUtf8(p->readAllStandardError());
        runs.push_back(r);
    }
    return runs;
}

void tst_queuecli::issueRefusesAtLimitAndKeepsDatesApart()
{
    Run r = ctl({QStringLiteral("issue"), QStringLiteral("Walk-in")});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringList{QStringLiteral("W100")});

    const QString tomorrow = QDate::currentDate().addDays(1).toString(QStringLiteral("yyyy-MM-dd"));
    r = ctl({QStringLiteral("issue"), QStringLiteral("Walk-in"), QStringLiteral("--date"), tomorrow});
    QCOMPARE(r.out, QStringList{QStringLiteral("W100")});
    r = ctl({QStringLiteral("issue"), QStringLiteral("Walk-in"), QStringLiteral("--count"), QStringLiteral("2")});
    QCOMPARE(r.out, (QStringList{QStringLiteral("W101"), QStringLiteral("W102")}));
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE tickDate=?"), {tomorrow}), 1);

    r = ctl({QStringLiteral("issue"), QStringLiteral("Small")});
    QCOMPARE(r.out, QStringList{QStringLiteral("S1")});
    r = ctl({QStringLiteral("issue"), QStringLiteral("Small")});
    QCOMPARE(r.code, 3);
    QCOMPARE(r.err, QStringLiteral("Limit\n"));
    QVERIFY(r.out.isEmpty());
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE no_abr LIKE 'S%'")), 1);

    QCOMPARE(ctl({QStringLiteral("issue"), QStringLiteral("Walk-in"), QStringLiteral("--date"),
                  QStringLiteral("14-03-2026")})
                 .code,
             2);
}

void tst_queuecli::counterCommandsActOnTheirOwnTokens()
{
    QCOMPARE(ctl({QStringLiteral("issue"), QStringLiteral("Walk-in"), QStringLiteral("--count"), QStringLiteral("2")})
                 .code,
             0);
    const qint64 w101 = m_t->db().scalar(QStringLiteral("SELECT tickAuto FROM tblTicket WHERE tickNo=101")).toLongLong();
    Run r = ctl({QStringLiteral("pending"), QStringLiteral("Walk-in")});
    QCOMPARE(r.out, QStringList{QStringLiteral("2")});

    r = ctl({QStringLiteral("recall"), QStringLiteral("Desk 1")});
    QCOMPARE(r.code, 3); // nothing served yet
    r = ctl({QStringLiteral("next"), QStringLiteral("Desk 1")});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringList{QStringLiteral("W100")});
    r = ctl({QStringLiteral("call"), QStringLiteral("Desk 2"), QString::number(w101), QStringLiteral("--lab")});
    QCOMPARE(r.out, QStringList{QStringLiteral("W101")});
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT callNote FROM tblCall WHERE tickAuto=?"), {w101}).toString(),
             QStringLiteral("Lab Report"));
    r = ctl({QStringLiteral("next"), QStringLiteral("Desk 3")});
    QCOMPARE(r.code, 3);
    QCOMPARE(r.out, QStringList{QStringLiteral("Idle")});

    m_t->db().run(QStringLiteral("UPDATE tblCall SET status='1'"));
    r = ctl({QStringLiteral("recall"), QStringLiteral("Desk 1")});
    QCOMPARE(r.out, QStringList{QStringLiteral("W100")});
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE status='0' AND no_abr='W100'")), 1);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE status='0'")), 1);

    r = ctl({QStringLiteral("cancel"), QStringLiteral("Desk 1")});
    QCOMPARE(r.out, QStringList{QStringLiteral("W100")});
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT status FROM tblTicket WHERE tickNo=100")).toString(),
             QStringLiteral("Cancelled"));

    r = ctl({QStringLiteral("transfer"), QStringLiteral("Desk 2"), QString::number(w101), QStringLiteral("Desk 2")});
    QCOMPARE(r.code, 3);
    r = ctl({QStringLiteral("transfer"), QStringLiteral("Desk 2"), QString::number(w101), QStringLiteral("Desk 3"),
             QStringLiteral("--notes"), QStringLiteral("see the nurse")});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringList{QStringLiteral("Updated")});
    QSqlQuery q = m_t->db().run(QStringLiteral("SELECT call, status, ref, attended FROM tblTicket WHERE tickAuto=?"),
                                {w101});
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("0"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("Transferred"));
    QCOMPARE(q.value(2).toString(), QStringLiteral("see the nurse"));
    QCOMPARE(q.value(3).toInt(), scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName='Desk 3'")));
    r = ctl({QStringLiteral("pending"), QStringLiteral("Walk-in"), QStringLiteral("--list")});
    QCOMPARE(r.out.size(), 1);
    QVERIFY(r.out[0].startsWith(QStringLiteral("W101\t")));
}

void tst_queuecli::unknownNamesAreOneLineErrors()
{
    const QList<QStringList> commands{
        {QStringLiteral("issue"), QStringLiteral("Nowhere")},
        {QStringLiteral("next"), QStringLiteral("Desk 9")},
        {QStringLiteral("recall"), QStringLiteral("Desk 9")},
        {QStringLiteral("pending"), QStringLiteral("Nowhere")},
        {QStringLiteral("transfer"), QStringLiteral("Desk 1"), QStringLiteral("1"), QStringLiteral("Desk 9")},
    };
    for (const QStringList& c : commands) {
        const Run r = ctl(c);
        QVERIFY2(r.code == 1, qPrintable(c.join(QLatin1Char(' '))));
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    }
}

void tst_queuecli::concurrentIssuesGiveConsecutiveNumbers()
{
    const int stations = 4;
    const int each = 60;
    QList<QStringList> commands;
    for (int i = 0; i < stations; ++i)
        commands << QStringList{QStringLiteral("issue"), QStringLiteral("Walk-in"), QStringLiteral("--count"),
                                QString::number(each)};
    QSet<QString> labels;
    for (const Run& r : together(commands)) {
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.out.size(), each);
        for (const QString& label : r.out)
            labels.insert(label);
    }
    const int total = stations * each;
    QCOMPARE(labels.size(), total);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblTicket")), total);
    QCOMPARE(scalar(QStringLiteral("SELECT count(DISTINCT tickNo) FROM tblTicket")), total);
    // Stations drawing keys at the same moment still give every token a key of its own.
    QCOMPARE(scalar(QStringLiteral("SELECT count(DISTINCT webKey) FROM tblTicket")), total);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE length(webKey)=22")), total);
    QCOMPARE(scalar(QStringLiteral("SELECT min(tickNo) FROM tblTicket")), 100);
    QCOMPARE(scalar(QStringLiteral("SELECT max(tickNo) FROM tblTicket")), 100 + total - 1);
    for (int n = 100; n < 100 + total; ++n)
        QVERIFY2(labels.contains(QStringLiteral("W%1").arg(n)), qPrintable(QString::number(n)));
}

void tst_queuecli::concurrentNextTakesEveryTokenOnce()
{
    const int total = 240;
    QCOMPARE(ctl({QStringLiteral("issue"), QStringLiteral("Walk-in"), QStringLiteral("--count"),
                  QString::number(total)})
                 .code,
             0);
    QList<QStringList> commands;
    for (int i = 1; i <= 4; ++i)
        commands << QStringList{QStringLiteral("next"), QStringLiteral("Desk %1").arg(i), QStringLiteral("--count"),
                                QStringLiteral("1000")};
    QStringList taken;
    for (const Run& r : together(commands)) {
        // Each desk works until the queue is empty.
        QVERIFY2(r.code == 3, qPrintable(r.err));
        QCOMPARE(r.out.last(), QStringLiteral("Idle"));
        taken << r.out.mid(0, r.out.size() - 1);
    }
    QCOMPARE(taken.size(), total);
    QCOMPARE(QSet<QString>(taken.begin(), taken.end()).size(), total);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE call='1' AND status='Finished'")), total);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblCall")), total);
    QCOMPARE(scalar(QStringLiteral("SELECT count(DISTINCT tickAuto) FROM tblCall")), total);
    // Each call row names the counter that holds the token.
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblCall c JOIN tblTicket t ON t.tickAuto=c.tickAuto "
                                   "WHERE c.cntAuto=t.attended AND c.no_abr=t.no_abr AND c.tickDate=?"),
                    {today()}),
             total);
}

void tst_queuecli::issuingAndCallingAtOnceKeepEveryCallRow()
{
    // Two ticket stations issue while three desks call, again and again, until the issuing ends.
    std::vector<std::unique_ptr<QProcess>> issuers;
    for (int i = 0; i < 2; ++i) {
        auto p = std::make_unique<QProcess>();
        p->start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
                 base() + QStringList{QStringLiteral("issue"), QStringLiteral("Walk-in"), QStringLiteral("--count"),
                                      QStringLiteral("60")});
        issuers.push_back(std::move(p));
    }
    auto issuing = [&] {
        return std::any_of(issuers.begin(), issuers.end(),
                           [](const auto& p) {
                               p->waitForFinished(0); // takes in an exit that happened meanwhile
                               return p->state() != QProcess::NotRunning;
                           });
    };
    int rounds = 0;
    QList<QStringList> callers;
    for (int i = 1; i <= 3; ++i)
        callers << QStringList{QStringLiteral("next"), QStringLiteral("Desk %1").arg(i), QStringLiteral("--count"),
                               QStringLiteral("1000")};
    do {
        for (const Run& r : together(callers))
            QVERIFY2(r.code == 0 || r.code == 3, qPrintable(r.err));
        ++rounds;
    } while (issuing());
    for (auto& p : issuers) {
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
    }
    // Whatever the desks left waiting, the last desk takes.
    const Run rest = ctl({QStringLiteral("next"), QStringLiteral("Desk 4"), QStringLiteral("--count"),
                          QStringLiteral("1000")});
    QCOMPARE(rest.code, 3);
    qInfo("%d rounds of calling while issuing; %lld left for the last desk", rounds, rest.out.size() - 1);

    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblTicket")), 120);
    QCOMPARE(scalar(QStringLiteral("SELECT max(tickNo) - min(tickNo) + 1 FROM tblTicket")), 120);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE call='0'")), 0);
    QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM tblCall")), 120);
    QCOMPARE(scalar(QStringLiteral("SELECT count(DISTINCT tickAuto) FROM tblCall")), 120);
}

TALLYVO_TEST_MAIN(tst_queuecli)
#include "tst_queuecli.moc"
