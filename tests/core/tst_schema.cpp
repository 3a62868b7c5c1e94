#include "TestSupport.h"
#include "core/Schema.h"
#include <QApplication>
#include <QTest>
using namespace tallyvo;
class tst_schema : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void version()
    {
        test::TempDatabase t;
        QCOMPARE(Schema::version(t.db()), Schema::latestVersion());
    }
};
TALLYVO_TEST_MAIN(tst_schema)
#include "tst_schema.moc"
