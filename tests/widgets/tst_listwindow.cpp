// The list/record window pair every administration list is built on, over records held in
// memory: grid layout, fills and refills, selection rules, and the record window's save flow.
#include "core/DbError.h"
#include "widgets/Grid.h"
#include "widgets/ListWindow.h"
#include "widgets/RecordWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "GridTouch.h"
#include "TestSupport.h"

using namespace tallyvo;

namespace {

struct Store {
    std::vector<QStringList> rows;
    bool refuseReads = false;
    bool refuseWrites = false;
    QStringList deleted;
};

class FakeRecord : public RecordWindow {
public:
    FakeRecord(Store& store, Prompt& prompt, QWidget* parent)
        : RecordWindow(prompt, parent)
        , m_store(store)
    {
        setObjectName(QStringLiteral("frmFake"));
        setWindowTitle(QStringLiteral("Fake"));
        auto* lay = new QVBoxLayout(this);
        name = new QLineEdit(this);
        name->setObjectName(QStringLiteral("txtName"));
        auto* ref = new QLabel(this);
        ref->setObjectName(QStringLiteral("lblRef"));
        auto* save = new QPushButton(QStringLiteral("&Save"), this);
        save->setObjectName(QStringLiteral("Command2"));
        auto* close = new QPushButton(QStringLiteral("&Close"), this);
        close->setObjectName(QStringLiteral("Command1"));
        for (QWidget* w : {static_cast<QWidget*>(name), static_cast<QWidget*>(ref), static_cast<QWidget*>(save),
                           static_cast<QWidget*>(close)})
            lay->addWidget(w);
        bind(ref, save, close);
    }

    QLineEdit* name;

protected:
    QString validate() override { return name->text().isEmpty() ? QStringLiteral("Name should not be blank") : QString(); }
    void saveData() override
    {
        if (m_store.refuseWrites)
            throw DbError(QStringLiteral("disk full"));
        m_store.rows.push_back({QString::number(m_store.rows.size() + 10), name->text(), QStringLiteral("1")});
    }
    void updateData() override
    {
        if (m_store.refuseWrites)
            throw DbError(QStringLiteral("disk full"));
        for (QStringList& r : m_store.rows)
            if (r[0] == QString::number(keyNumber()))
                r[1] = name->text();
    }
    void getData() override
    {
        for (const QStringList& r : m_store.rows)
            if (r[0] == key())
                name->setText(r[1]);
    }

private:
    Store& m_store;
};

class FakeList : public ListWindow {
public:
    FakeList(Store& store, Prompt& prompt, QWidget* parent = nullptr)
        : ListWindow(prompt, parent)
        , m_store(store)
    {
        setWindowTitle(QStringLiteral("Fake List"));
        setColumns({{2500, QStringLiteral("Name")}, {1000, QStringLiteral("Active")}, {3000, QStringLiteral("x")}});
        addStandardButtons();
    }
    using ListWindow::openRecordWindow;

protected:
    std::vector<QStringList> records() override
    {
        if (m_store.refuseReads)
            throw DbError(QStringLiteral("no such table"));
        return m_store.rows;
    }
    RecordWindow* makeRecordWindow() override { return new FakeRecord(m_store, prompt(), this); }
    void deleteRecord(const QString& key) override { m_store.deleted << key; }

private:
    Store& m_store;
};

void doubleClickRow(Grid* g, int row)
{
    const QModelIndex index = g->model()->index(row - Grid::fixedRows(), 1);
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(index).center());
}

} // namespace

class TestListWindow : public QObject {
    Q_OBJECT

private slots:
    void layoutAndFill()
    {
        Store store;
        store.rows = {{QStringLiteral("7"), QStringLiteral("O'Brien"), QStringLiteral("1")},
                      {QStringLiteral("3"), QStringLiteral("Lab"), QStringLiteral("0")}};
        test::ScriptedPrompt prompt;
        FakeList w(store, prompt);
        w.show();
        Grid* g = w.grid();
        QCOMPARE(g->cols(), 5);
        QCOMPARE(g->colWidth(0), 1);
        QCOMPARE(g->colWidth(4), 3000);
        QCOMPARE(g->textMatrix(0, 0), QString());
        QCOMPARE(g->textMatrix(0, 1), QStringLiteral("SN"));
        QCOMPARE(g->textMatrix(0, 2), QStringLiteral("Name"));
        QCOMPARE(g->textMatrix(0, 4), QString());
        // Keys in column 0, positions in the query's order in "SN", the widening column empty.
        QCOMPARE(g->rows(), 3);
        QCOMPARE(g->textMatrix(1, 0), QStringLiteral("7"));
        QCOMPARE(g->textMatrix(1, 1), QStringLiteral("1"));
        QCOMPARE(g->textMatrix(2, 1), QStringLiteral("2"));
        QCOMPARE(g->textMatrix(1, 2), QStringLiteral("O'Brien"));
        QCOMPARE(g->textMatrix(2, 3), QStringLiteral("0"));
        QCOMPARE(g->textMatrix(1, 4), QString());

        // A refused read leaves the header only and says why without a box.
        store.refuseReads = true;
        w.addFG();
        QCOMPARE(g->rows(), 1);
        QCOMPARE(w.fillError(), QStringLiteral("no such table"));
        QVERIFY(prompt.messages.isEmpty());
        store.refuseReads = false;
        w.addFG();
        QCOMPARE(w.fillError(), QString());
    }

    void refillOnActivation_data()
    {
        QTest::addColumn<bool>("refills");
        QTest::newRow("on activation") << true;
        QTest::newRow("only when asked") << false;
    }
    void refillOnActivation()
    {
        QFETCH(bool, refills);
        Store store;
        test::ScriptedPrompt prompt;
        FakeList w(store, prompt);
        w.setRefill(refills ? ListWindow::Refill::OnActivation : ListWindow::Refill::OnlyWhenAsked);
        w.show();
        const int afterLoad = w.fillCount();
        QCOMPARE(afterLoad, 1);
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&w, &activate);
        QCOMPARE(w.fillCount(), refills ? 2 : 1);
    }

    void selectionRules()
    {
        Store store;
        store.rows = {{QStringLiteral("7"), QStringLiteral("Alpha"), QStringLiteral("1")}};
        test::ScriptedPrompt prompt;
        FakeList w(store, prompt);
        w.show();
        // Header row selected: Delete asks for a selection, a double-click opens nothing.
        w.grid()->setRow(0);
        test::control<QPushButton>(&w, "Command2")->click();
        QCOMPARE(prompt.messages, QStringList{QStringLiteral("Please select an entry")});
        w.editSelected();
        QVERIFY(!w.recordWindow());
        QVERIFY(store.deleted.isEmpty());

        QVERIFY(test::touchRow(w.grid(), QStringLiteral("1")));
        test::control<QPushButton>(&w, "Command2")->click();
        QCOMPARE(store.deleted, QStringList{QStringLiteral("7")});

        // Double-click edits the clicked record.
        doubleClickRow(w.grid(), 1);
        QVERIFY(w.recordWindow());
        QVERIFY(w.recordWindow()->isVisible());
        QCOMPARE(w.recordWindow()->key(), QStringLiteral("7"));
        QCOMPARE(test::control<QLineEdit>(w.recordWindow(), "txtName")->text(), QStringLiteral("Alpha"));
    }

    void recordSaveFlow()
    {
        Store store;
        store.rows = {{QStringLiteral("7"), QStringLiteral("Alpha"), QStringLiteral("1")}};
        test::ScriptedPrompt prompt;
        FakeList w(store, prompt);
        // Only the save may refill here: closing the record window activates the list again.
        w.setRefill(ListWindow::Refill::OnlyWhenAsked);
        w.show();

        // Add shows an empty window; a failed check keeps it open with what was typed.
        test::control<QPushButton>(&w, "Command3")->click();
        QPointer<RecordWindow> rec = w.recordWindow();
        QVERIFY(rec && rec->isVisible());
        QCOMPARE(rec->key(), QString());
        test::control<QPushButton>(rec, "Command2")->click();
        QCOMPARE(prompt.messages.last(), QStringLiteral("Name should not be blank"));
        QVERIFY(rec->isVisible());

        // Add again while it is open keeps what is typed.
        auto* name = test::control<QLineEdit>(rec, "txtName");
        name->setText(QStringLiteral("Beta"));
        w.addRecord();
        QCOMPARE(w.recordWindow(), rec.data());
        QCOMPARE(name->text(), QStringLiteral("Beta"));

        const int fills = w.fillCount();
        test::control<QPushButton>(rec, "Command2")->click();
        QTRY_VERIFY(!rec);
        QCOMPARE(w.fillCount(), fills + 1);
        QCOMPARE(w.grid()->rows(), 3);
        QCOMPARE(w.grid()->textMatrix(2, 2), QStringLiteral("Beta"));

        // A closed window comes back empty.
        w.addRecord();
        QCOMPARE(test::control<QLineEdit>(w.recordWindow(), "txtName")->text(), QString());
        QCOMPARE(w.recordWindow()->key(), QString());

        // A refused write shows the database's words; the window closes and the list refills.
        test::control<QLineEdit>(w.recordWindow(), "txtName")->setText(QStringLiteral("Gamma"));
        store.refuseWrites = true;
        rec = w.recordWindow();
        const int before = w.fillCount();
        test::control<QPushButton>(rec, "Command2")->click();
        QCOMPARE(prompt.messages.last(), QStringLiteral("disk full"));
        QTRY_VERIFY(!rec);
        QCOMPARE(w.fillCount(), before + 1);
        QCOMPARE(w.grid()->rows(), 3);
    }

    // Closing a list leaves its record window open with what was typed, and that window still
    // saves: inside a main window's area (the window is the main window's) and as a window of
    // its own without a parent.
    void recordWindowOutlivesItsList_data()
    {
        QTest::addColumn<bool>("inArea");
        QTest::newRow("in the main window's area") << true;
        QTest::newRow("a window of its own") << false;
    }
    void recordWindowOutlivesItsList()
    {
        QFETCH(bool, inArea);
        Store store;
        store.rows = {{QStringLiteral("7"), QStringLiteral("Alpha"), QStringLiteral("1")}};
        test::ScriptedPrompt prompt;
        QMainWindow main;
        auto* area = new QMdiArea(&main);
        main.setCentralWidget(area);
        main.show();
        QPointer<FakeList> list = new FakeList(store, prompt);
        if (inArea) {
            QMdiSubWindow* sub = area->addSubWindow(list);
            sub->setAttribute(Qt::WA_DeleteOnClose);
            sub->show();
        } else {
            list->setAttribute(Qt::WA_DeleteOnClose);
            list->show();
        }

        doubleClickRow(list->grid(), 1);
        QPointer<RecordWindow> rec = list->recordWindow();
        QVERIFY(rec && rec->isVisible());
        QVERIFY(rec->isWindow());
        test::control<QLineEdit>(rec, "txtName")->setText(QStringLiteral("Alpha, renamed"));
        list->closeWindow();
        QTRY_VERIFY(!list);

        QVERIFY(rec && rec->isVisible());
        QCOMPARE(rec->parentWidget(), inArea ? &main : nullptr);
        QCOMPARE(test::control<QLineEdit>(rec, "txtName")->text(), QStringLiteral("Alpha, renamed"));
        test::control<QPushButton>(rec, "Command2")->click();
        QTRY_VERIFY(!rec);
        QCOMPARE(store.rows.size(), size_t(1));
        QCOMPARE(store.rows[0][1], QStringLiteral("Alpha, renamed"));
        QVERIFY(prompt.messages.isEmpty());

        // A new list shows it and opens a record window of its own.
        FakeList again(store, prompt);
        again.show();
        QCOMPARE(again.grid()->textMatrix(1, 2), QStringLiteral("Alpha, renamed"));
        again.addRecord();
        QVERIFY(again.recordWindow());
        again.recordWindow()->close();
    }
};

TALLYVO_TEST_MAIN(TestListWindow)
#include "tst_listwindow.moc"
