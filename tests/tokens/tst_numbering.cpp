#include "TestSupport.h"

#include "core/Dialect.h"
#include "core/Session.h"
#include "tokens/TokenIssuer.h"
#include "tokens/WebKeys.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>
#include <QTest>
#include <stdexcept>

using namespace tallyvo;

namespace {

// Records every copy and, at the moment of printing, whether the token is already stored.
class RecordingPrinter final : public TicketPrinter {
public:
    explicit RecordingPrinter(const Database& db)
        : m_db(db)
    {
    }
    bool startPrint(const TicketData& ticket) override
    {
        printed << ticket;
        storedWhenPrinted << (m_db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE no_abr=?"),
                                          {ticket.label})
                                  .toInt()
                              == 1);
        if (throwOnCopy == printed.size())
            throw std::runtime_error("paper jam");
        return failOnCopy != printed.size();
    }
    QString lastError() const override { return QStringLiteral("out of paper"); }

    QList<TicketData> printed;
    QList<bool> storedWhenPrinted;
    int failOnCopy = 0;  // 1-based copy that reports failure
    int throwOnCopy = 0; // 1-based copy that throws

private:
    const Database& m_db;
};

} // namespace

Q_DECLARE_METATYPE(tallyvo::TokenIssuer::StoreMoment)

class tst_numbering : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void firstTokenCarriesStartNumberAndRowIsWaiting();
    void nextFollowsHighestNumberEvenIfCancelled();
    void endNumberIsInclusive();
    void emptyOrNonNumericEndRefusesEverything_data();
    void emptyOrNonNumericEndRefusesEverything();
    void numbersReadAsTheServiceWindowAcceptsThem_data();
    void numbersReadAsTheServiceWindowAcceptsThem();
    void emptyPrefixGivesBareNumbers();
    void anotherDateKeepsItsOwnNumbering();
    void copiesArePrintedAfterTheTokenIsStored();
    void printFailureKeepsTheTokenAndNamesIt();
    void storeFailurePrintsNothing();
    void refusedWriteIsNeitherReportedNorPrinted_data();
    void refusedWriteIsNeitherReportedNorPrinted();
    void numberTakenByAnotherStationMovesOnOrHitsTheLimit();
    void missingServiceIsNotIssued();
    void everyTokenHasAnUnguessableWebKey();
    void webKeyFindsItsTokenOfAnyDay_data();
    void webKeyFindsItsTokenOfAnyDay();
    void issueAfterALostConnectionGivesOneToken_data();
    void issueAfterALostConnectionGivesOneToken();

private:
    int addService(const QString& prefix, const QString& start, const QString& end,
                   const QString& desc = QStringLiteral("Bring your card"));
    int count(const QString& where = QStringLiteral("1=1"));

    std::unique_ptr<test::TempDatabase> m_t;
    test::FakeClock m_clock{QDate(2026, 3, 14), QTime(10, 5, 30)};
    Session m_session;
    std::unique_ptr<RecordingPrinter> m_printer;
    std::unique_ptr<TokenIssuer> m_issuer;
};

void tst_numbering::init()
{
    m_t = std::make_unique<test::TempDatabase>();
    m_session = Session();
    m_clock.day = QDate(2026, 3, 14);
    m_printer = std::make_unique<RecordingPrinter>(m_t->db());
    m_issuer = std::make_unique<TokenIssuer>(m_t->db(), m_clock, m_session, *m_printer);
}

void tst_numbering::cleanup()
{
    m_issuer.reset();
    m_printer.reset();
    m_t.reset();
}

int tst_numbering::addService(const QString& prefix, const QString& start, const QString& end, const QString& desc)
{
    return static_cast<int>(m_t->db().insert(
        QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, abrno) "
                       "VALUES (1, ?, ?, '1', ?, ?, ?) RETURNING servAuto"),
        {QStringLiteral("Service ") + prefix, desc, start, end, prefix}));
}

int tst_numbering::count(const QString& where)
{
    return m_t->db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE ") + where).toInt();
}

void tst_numbering::firstTokenCarriesStartNumberAndRowIsWaiting()
{
    const int s = addService(QStringLiteral("A"), QStringLiteral("100"), QStringLiteral("999"));
    QCOMPARE(m_issuer->getToken(s), 100);
    const IssueResult r = m_issuer->issue(s, QStringLiteral("Service A"));
    QCOMPARE(r.status, IssueResult::Status::Issued);
    QCOMPARE(r.token.label, QStringLiteral("A100"));
    QCOMPARE(r.token.number, 100);
    QVERIFY(r.message().isEmpty());

    QSqlQuery q = m_t->db().run(QStringLiteral("SELECT servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, "
                                               "attTime, finished, status, ref, tickAuto FROM tblTicket"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), s);
    QCOMPARE(q.value(1).toInt(), 100);
    QCOMPARE(q.value(2).toString(), QStringLiteral("2026-03-14"));
    QCOMPARE(q.value(3).toString(), QStringLiteral("10:05:30"));
    QCOMPARE(q.value(4).toString(), QStringLiteral("0"));
    QCOMPARE(q.value(5).toString(), QStringLiteral("A100"));
    QCOMPARE(q.value(6).toInt(), 0);
    for (int i = 7; i <= 10; ++i)
        QCOMPARE(q.value(i).toString(), QString());
    QCOMPARE(q.value(11).toLongLong(), r.token.key);

    QCOMPARE(m_issuer->getToken(s), 101);
    QCOMPARE(m_issuer->issue(s, QStringLiteral("Service A")).token.label, QStringLiteral("A101"));
}

void tst_numbering::nextFollowsHighestNumberEvenIfCancelled()
{
    const int s = addService(QStringLiteral("B"), QStringLiteral("100"), QStringLiteral("999"));
    m_issuer->issue(s, QString());
    m_issuer->issue(s, QString());
    m_t->db().run(QStringLiteral("UPDATE tblTicket SET call='1', status='Cancelled' WHERE tickNo=101"));
    QCOMPARE(m_issuer->getToken(s), 102);
    QCOMPARE(m_issuer->issue(s, QString()).token.number, 102);
}

void tst_numbering::endNumberIsInclusive()
{
    const int s = addService(QStringLiteral("C"), QStringLiteral("149"), QStringLiteral(" 150 "));
    QCOMPARE(m_issuer->issue(s, QString()).token.number, 149);
    const IssueResult last = m_issuer->issue(s, QString());
    QCOMPARE(last.status, IssueResult::Status::Issued);
    QCOMPARE(last.token.number, 150);
    m_printer->printed.clear();

    const IssueResult refused = m_issuer->issue(s, QString());
    QCOMPARE(refused.status, IssueResult::Status::Limit);
    QCOMPARE(refused.message(), QStringLiteral("Limit"));
    QVERIFY(!refused.stored());
    QVERIFY(m_printer->printed.isEmpty());
    QCOMPARE(count(), 2);
}

void tst_numbering::emptyOrNonNumericEndRefusesEverything_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << QStringLiteral("  ");
    QTest::newRow("text") << QStringLiteral("many");
}

void tst_numbering::numbersReadAsTheServiceWindowAcceptsThem_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("first"); // 0: "Limit"
    QTest::newRow("end with a zero fraction") << QStringLiteral("1") << QStringLiteral("300.0") << 1;
    QTest::newRow("blanks around both") << QStringLiteral(" 5 ") << QStringLiteral(" 300 ") << 5;
    QTest::newRow("start with an exponent") << QStringLiteral("1e1") << QStringLiteral("20") << 10;
    QTest::newRow("signed start") << QStringLiteral("+3") << QStringLiteral("9") << 3;
    QTest::newRow("end not whole") << QStringLiteral("1") << QStringLiteral("1.5") << 0;
    QTest::newRow("end infinite") << QStringLiteral("1") << QStringLiteral("inf") << 0;
}

void tst_numbering::numbersReadAsTheServiceWindowAcceptsThem()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(int, first);
    const int s = addService(QStringLiteral("N"), start, end);
    const IssueResult r = m_issuer->issue(s, QString());
    if (first == 0) {
        QCOMPARE(r.status, IssueResult::Status::Limit);
        return;
    }
    QCOMPARE(r.status, IssueResult::Status::Issued);
    QCOMPARE(r.token.number, first);
    QCOMPARE(r.token.label, QStringLiteral("N") + QString::number(first));
}

void tst_numbering::emptyOrNonNumericEndRefusesEverything()
{
    QFETCH(QString, end);
    const int s = addService(QStringLiteral("D"), QStringLiteral("1"), end);
    QCOMPARE(m_issuer->issue(s, QString()).status, IssueResult::Status::Limit);
    QCOMPARE(count(), 0);
    QVERIFY(m_printer->printed.isEmpty());
}

void tst_numbering::emptyPrefixGivesBareNumbers()
{
    const int s = addService(QString(), QStringLiteral("1"), QStringLiteral("50"));
    QCOMPARE(m_issuer->issue(s, QString()).token.label, QStringLiteral("1"));
    QCOMPARE(m_issuer->issue(s, QString()).token.label, QStringLiteral("2"));
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT no_abr FROM tblTicket WHERE tickNo=2")).toString(),
             QStringLiteral("2"));
}

void tst_numbering::anotherDateKeepsItsOwnNumbering()
{
    const int s = addService(QStringLiteral("E"), QStringLiteral("10"), QStringLiteral("99"));
    const int other = addService(QStringLiteral("F"), QStringLiteral("1"), QStringLiteral("99"));
    m_issuer->issue(s, QString());
    m_issuer->issue(other, QString());

    m_issuer->setIssueDate(QDate(2026, 3, 15));
    QCOMPARE(m_issuer->getToken(s), 10);
    const IssueResult tomorrow = m_issuer->issue(s, QString());
    QCOMPARE(tomorrow.token.number, 10);
    QCOMPARE(tomorrow.token.date, QStringLiteral("2026-03-15"));
    // Like the date box, the issue date returns to today after a stored token.
    QCOMPARE(m_issuer->issueDate(), QDate(2026, 3, 14));
    QCOMPARE(m_issuer->issue(s, QString()).token.number, 11);
    QCOMPARE(count(QStringLiteral("tickDate='2026-03-15'")), 1);

    // A refused issue keeps the chosen date.
    m_t->db().run(QStringLiteral("UPDATE tblService SET endno='5' WHERE servAuto=?"), {s});
    m_issuer->setIssueDate(QDate(2026, 3, 16));
    QCOMPARE(m_issuer->issue(s, QString()).status, IssueResult::Status::Limit);
    QCOMPARE(m_issuer->issueDate(), QDate(2026, 3, 16));
}

void tst_numbering::copiesArePrintedAfterTheTokenIsStored()
{
    m_session.ticketCopies = 2;
    const int s = addService(QStringLiteral("G"), QStringLiteral("7"), QStringLiteral("99"), QStringLiteral("Desk 3"));
    const IssueResult r = m_issuer->issue(s, QStringLiteral("X-Ray"));
    QCOMPARE(r.status, IssueResult::Status::Issued);
    QCOMPARE(r.copiesPrinted, 2);
    QCOMPARE(count(), 1);
    QCOMPARE(m_printer->printed.size(), 2);
    QCOMPARE(m_printer->storedWhenPrinted, (QList<bool>{true, true}));
    for (const TicketData& t : m_printer->printed) {
        QCOMPARE(t.label, QStringLiteral("G7"));
        QCOMPARE(t.serviceKey, s);
        QCOMPARE(t.serviceName, QStringLiteral("X-Ray"));
        QCOMPARE(t.serviceDesc, QStringLiteral("Desk 3"));
        // The ticket names the token's page by the key stored with it; with no service history
        // there is no estimate to print.
        QCOMPARE(t.webKey, r.token.webKey);
        QVERIFY(!t.webKey.isEmpty());
        QVERIFY(!t.estimateMinutes);
    }

    // Once the service has been served at a steady pace today, the next ticket says the wait.
    for (int n = 0; n < 3; ++n)
        m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                     "attended, attTime, finished, status) VALUES (?, ?, '2026-03-14', '09:00:00', "
                                     "'1', ?, 1, ?, ?, 'Finished')"),
                      {s, 50 + n, QStringLiteral("G%1").arg(50 + n), QStringLiteral("10:0%1:00").arg(n),
                       QStringLiteral("10:0%1:00").arg(n + 1)});
    m_printer->printed.clear();
    QCOMPARE(m_issuer->issue(s, QStringLiteral("X-Ray")).status, IssueResult::Status::Issued);
    QCOMPARE(m_printer->printed.size(), 2);
    QCOMPARE(m_printer->printed.first().estimateMinutes, std::optional<int>(2)); // G7 ahead, a minute a token
}

void tst_numbering::printFailureKeepsTheTokenAndNamesIt()
{
    m_session.ticketCopies = 3;
    const int s = addService(QStringLiteral("H"), QStringLiteral("1"), QStringLiteral("99"));
    m_printer->failOnCopy = 1;
    m_printer->throwOnCopy = 2;
    const IssueResult r = m_issuer->issue(s, QString());
    QCOMPARE(r.status, IssueResult::Status::PrintFailed);
    QVERIFY(r.stored());
    QCOMPARE(r.token.label, QStringLiteral("H1"));
    QCOMPARE(r.error, QStringLiteral("out of paper"));
    QVERIFY2(r.message().contains(QStringLiteral("H1")), qPrintable(r.message()));
    // Every copy is tried; the third still printed.
    QCOMPARE(m_printer->printed.size(), 3);
    QCOMPARE(r.copiesPrinted, 1);
    QCOMPARE(count(QStringLiteral("no_abr='H1'")), 1);
    QCOMPARE(m_issuer->issue(s, QString()).token.label, QStringLiteral("H2"));
}

void tst_numbering::storeFailurePrintsNothing()
{
    const int s = addService(QStringLiteral("J"), QStringLiteral("1"), QStringLiteral("99"));
    const int number = m_issuer->getToken(s);
    m_t->db().run(QStringLiteral("ALTER TABLE tblTicket RENAME TO tblTicketGone"));
    const IssueResult r = m_issuer->getEnd(s, QString(), number);
    QCOMPARE(r.status, IssueResult::Status::Failed);
    QVERIFY(!r.error.isEmpty());
    QCOMPARE(r.message(), r.error);
    QVERIFY(m_printer->printed.isEmpty());
}

void tst_numbering::refusedWriteIsNeitherReportedNorPrinted_data()
{
    QTest::addColumn<test::Refusal>("how");
    QTest::newRow("disk full") << test::Refusal::DiskFull;
    QTest::newRow("commit refused") << test::Refusal::CommitRefused;
}

void tst_numbering::refusedWriteIsNeitherReportedNorPrinted()
{
    QFETCH(test::Refusal, how);
    const int s = addService(QStringLiteral("L"), QStringLiteral("1"), QStringLiteral("100000"));
    QCOMPARE(m_issuer->issue(s, QString()).status, IssueResult::Status::Issued);
    if (!test::refuseWrites(m_t->db(), how, QStringLiteral("tblTicket")))
        QSKIP("this engine cannot refuse writes that way");

    // Tokens that still fit are stored and printed; the first that does not is reported as not
    // stored, prints nothing, and its number is not handed out again.
    QStringList reported{QStringLiteral("L1")};
    IssueResult r;
    for (int i = 0; i < 2000; ++i) {
        r = m_issuer->issue(s, QString());
        if (!r.stored())
            break;
        reported << r.token.label;
    }
    QCOMPARE(r.status, IssueResult::Status::Failed);
    QVERIFY(!r.message().isEmpty());
    QCOMPARE(m_issuer->issue(s, QString()).status, IssueResult::Status::Failed);
    QCOMPARE(count(), reported.size());
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT count(DISTINCT no_abr) FROM tblTicket")).toInt(), reported.size());
    QStringList printed;
    for (const TicketData& t : std::as_const(m_printer->printed))
        printed << t.label;
    QCOMPARE(printed, reported);
}

void tst_numbering::numberTakenByAnotherStationMovesOnOrHitsTheLimit()
{
    const int s = addService(QStringLiteral("K"), QStringLiteral("1"), QStringLiteral("3"));
    const std::unique_ptr<Database> otherDb = m_t->openAnother();
    NoTicketPrinter none;
    TokenIssuer other(*otherDb, m_clock, m_session, none);

    // Both stations read 1; the other stores it first.
    const int mine = m_issuer->getToken(s);
    QCOMPARE(mine, 1);
    QCOMPARE(other.issue(s, QString()).token.number, 1);
    const IssueResult r = m_issuer->getEnd(s, QString(), mine);
    QCOMPARE(r.token.number, 2);
    QCOMPARE(m_printer->printed.last().label, QStringLiteral("K2"));

    // Both read the last number allowed; the loser is refused, not given one beyond the end.
    const int last = m_issuer->getToken(s);
    QCOMPARE(other.issue(s, QString()).token.number, last);
    QCOMPARE(m_issuer->getEnd(s, QString(), last).status, IssueResult::Status::Limit);
    QCOMPARE(count(), 3);
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT count(DISTINCT tickNo) FROM tblTicket")).toInt(), 3);
}

void tst_numbering::missingServiceIsNotIssued()
{
    QCOMPARE(m_issuer->getToken(4242), 0);
    const IssueResult r = m_issuer->issue(4242, QString());
    QCOMPARE(r.status, IssueResult::Status::Failed);
    QVERIFY(!r.message().isEmpty());
    QCOMPARE(count(), 0);
    QVERIFY(m_printer->printed.isEmpty());
}

void tst_numbering::everyTokenHasAnUnguessableWebKey()
{
    // Labels of five characters (W1000 on): a random key holds a given short label now and then
    // by chance alone, a five-character one practically never.
    const int s = addService(QStringLiteral("W"), QStringLiteral("1000"), QStringLiteral("5000"));
    const int issued = 1000;
    QSet<QString> keys;
    QSet<QByteArray> prefixes; // the first 8 characters: a generator with little state repeats early
    for (int i = 0; i < issued; ++i) {
        const IssueResult r = m_issuer->issue(s, QString());
        QCOMPARE(r.status, IssueResult::Status::Issued);
        const QString& key = r.token.webKey;
        QVERIFY2(WebKeys::wellFormed(key), qPrintable(key));
        QVERIFY2(!key.contains(r.token.label, Qt::CaseInsensitive), qPrintable(key));
        // 22 characters of base64 carry 132 bits, of which the 128 drawn are all there.
        QCOMPARE(QByteArray::fromBase64(key.toLatin1(), QByteArray::Base64UrlEncoding).size(), WebKeys::randomBytes);
        keys.insert(key);
        prefixes.insert(key.left(8).toLatin1());
    }
    QCOMPARE(keys.size(), issued);
    QCOMPARE(prefixes.size(), issued);
    // What the issuer reported is what was stored, alongside the token in the same row.
    QCOMPARE(count(QStringLiteral("webKey IS NOT NULL")), issued);
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT count(DISTINCT webKey) FROM tblTicket")).toInt(), issued);
    // The database itself refuses a second token with a key already held.
    const QString taken = *keys.begin();
    try {
        m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, webKey) VALUES (?, 9999, "
                                     "'2026-03-14', ?)"),
                      {s, taken});
        QFAIL("a second token with the same web key was stored");
    } catch (const DbError& e) {
        QVERIFY2(Dialect::isUniqueViolation(e.text()), qPrintable(e.text()));
    }
}

void tst_numbering::webKeyFindsItsTokenOfAnyDay_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<bool>("found");
    QTest::newRow("today's token") << "today" << true;
    QTest::newRow("a token of an earlier day") << "earlier" << true;
    QTest::newRow("an unknown key") << "unknown" << false;
    QTest::newRow("a key with one character changed") << "changed" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("the label") << "label" << false;
    QTest::newRow("SQL in the key") << "sql" << false;
    QTest::newRow("a key in other case") << "case" << false;
}

void tst_numbering::webKeyFindsItsTokenOfAnyDay()
{
    QFETCH(QString, which);
    QFETCH(bool, found);
    const int s = addService(QStringLiteral("F"), QStringLiteral("1"), QStringLiteral("99"));
    m_issuer->setIssueDate(QDate(2026, 3, 2));
    const IssueResult earlier = m_issuer->issue(s, QString());
    const IssueResult today = m_issuer->issue(s, QString());
    QCOMPARE(today.token.date, QStringLiteral("2026-03-14"));
    // A token stored before keys existed has none: it is never what an empty key finds.
    m_t->db().run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, no_abr) "
                                 "VALUES (?, 50, '2026-03-14', 'F50')"),
                  {s});

    const IssueResult& wanted = which == QLatin1String("earlier") ? earlier : today;
    QString key = wanted.token.webKey;
    if (which == QLatin1String("unknown"))
        key = WebKeys::make();
    else if (which == QLatin1String("changed"))
        key[5] = key[5] == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
    else if (which.isEmpty())
        key.clear();
    else if (which == QLatin1String("label"))
        key = today.token.label;
    else if (which == QLatin1String("sql"))
        key = QStringLiteral("' OR '1'='1' --  xxxxxx");
    else if (which == QLatin1String("case"))
        key = key.toUpper() == key ? key.toLower() : key.toUpper();

    const std::optional<WebKeys::Found> f = WebKeys::find(m_t->db(), key);
    QCOMPARE(f.has_value(), found);
    if (!found)
        return;
    QCOMPARE(f->token.key, wanted.token.key);
    QCOMPARE(f->token.label, wanted.token.label);
    QCOMPARE(f->token.number, wanted.token.number);
    QCOMPARE(f->token.date, wanted.token.date);
    QCOMPARE(f->token.webKey, wanted.token.webKey);
    QCOMPARE(f->serviceKey, s);
}

void tst_numbering::issueAfterALostConnectionGivesOneToken_data()
{
    QTest::addColumn<TokenIssuer::StoreMoment>("moment"); // when the connection goes
    QTest::addColumn<int>("losses");                      // how many times in a row
    QTest::addColumn<int>("tokens");                      // what the database holds afterwards

    // The server took the token and its answer was lost: the issue finds it, stores no second.
    QTest::newRow("after the commit") << TokenIssuer::StoreMoment::Stored << 1 << 1;
    // The statement never reached the server: the issue stores the token now.
    QTest::newRow("before the statement") << TokenIssuer::StoreMoment::Before << 1 << 1;
    // A server that keeps dropping the connection: reported as failed, nothing stored.
    QTest::newRow("every time") << TokenIssuer::StoreMoment::Before << 100 << 0;
    // Stored, and the server cannot be asked before the station gives up: reported as failed;
    // the operator's next try takes that token instead of a second one.
    QTest::newRow("asked too late") << TokenIssuer::StoreMoment::Lookup << 1 << 1;
}

void tst_numbering::issueAfterALostConnectionGivesOneToken()
{
    QFETCH(TokenIssuer::StoreMoment, moment);
    QFETCH(int, losses);
    QFETCH(int, tokens);
    const int s = addService(QStringLiteral("A"), QStringLiteral("1"), QStringLiteral("999"));
    m_session.ticketCopies = 1;
    const std::unique_ptr<Database> other = m_t->openAnother();
    const bool server = m_t->db().engine() == Engine::Postgres;
    int lost = 0;
    m_issuer->setStoreHook([&](TokenIssuer::StoreMoment now) {
        if (now != moment || lost >= losses)
            return;
        ++lost;
        if (server) {
            // The server ends the station's connection for real; the station makes it again.
            const QVariant pid = m_t->db().scalar(QStringLiteral("SELECT pg_backend_pid()"));
            other->run(QStringLiteral("SELECT pg_terminate_backend(CAST(? AS INTEGER))"), {pid});
            QElapsedTimer gone;
            gone.start();
            while (other->scalar(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid=CAST(? AS INTEGER)"),
                                 {pid})
                       .toInt()
                   > 0
                   && gone.elapsed() < 5000)
                QThread::msleep(10);
        }
        // The answer of a statement the server has taken is lost with the connection. Before
        // the statement, a server connection fails of itself; an embedded one is made to.
        if (now == TokenIssuer::StoreMoment::Stored || !server)
            throw ConnectionLost(QStringLiteral("The connection was lost."), true);
    });
    if (moment == TokenIssuer::StoreMoment::Lookup) {
        // The answer is lost, and the server is still away when the issuer asks.
        m_issuer->setStoreHook([&](TokenIssuer::StoreMoment now) {
            if (now == TokenIssuer::StoreMoment::Stored && lost++ == 0)
                throw ConnectionLost(QStringLiteral("The connection was lost."), true);
            if (now == TokenIssuer::StoreMoment::Lookup && lost == 1)
                throw DbError(QStringLiteral("The database is not connected."));
        });
        const IssueResult failed = m_issuer->issue(s, QStringLiteral("Service A"));
        QCOMPARE(failed.status, IssueResult::Status::Failed);
        QVERIFY(m_printer->printed.isEmpty());
        QCOMPARE(count(), 1);
        lost = 2; // the server is back
    }
    const IssueResult r = m_issuer->issue(s, QStringLiteral("Service A"));
    QCOMPARE(count(), tokens);
    if (tokens == 0) {
        QCOMPARE(r.status, IssueResult::Status::Failed);
        QVERIFY(!r.error.isEmpty());
        QVERIFY(m_printer->printed.isEmpty());
        return;
    }
    QCOMPARE(r.status, IssueResult::Status::Issued);
    QCOMPARE(r.token.label, QStringLiteral("A1"));
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT tickAuto FROM tblTicket")).toLongLong(), r.token.key);
    QCOMPARE(m_t->db().scalar(QStringLiteral("SELECT webKey FROM tblTicket")).toString(), r.token.webKey);
    QCOMPARE(m_printer->printed.size(), 1);
    // The station goes on working on its connection.
    m_issuer->setStoreHook({});
    QCOMPARE(m_issuer->issue(s, QStringLiteral("Service A")).token.label, QStringLiteral("A2"));
    QCOMPARE(count(QStringLiteral("requestKey IS NULL")), 0);
}

TALLYVO_TEST_MAIN(tst_numbering)
#include "tst_numbering.moc"
