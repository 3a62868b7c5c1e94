#pragma once

#include "TestSupport.h"

#include "core/Database.h"

#include <QString>

namespace tallyvo::test {

// A small site whose reports have known answers. Today is 2026-03-14.
//   Outpatients:    Consultation (A) at "Counter 1" (user alice)
//   St. Mary's Lab: Blood test (B) at "Counter 2" (user bob); its tokens are also called by a
//                   counter that has since been deleted (key 99)
//   Radiology:      X-ray (X), three tokens of 5, 7 and 10 minutes on 2026-03-10
//   Closed:         an inactive department with an inactive service
// Today: A1 5 min, A2 7 min, B1 10 min (10:05:59 to 10:15:01), B2 0 min by the deleted counter,
// B3 called and not finished, A3 waiting. Yesterday: A4 3 min.
struct ReportSite {
    TempDatabase temp;
    qint64 outpatients = 0, lab = 0, radiology = 0;
    qint64 consult = 0, blood = 0, xray = 0;
    qint64 counter1 = 0, counter2 = 0;

    ReportSite()
    {
        Database& db = temp.db();
        outpatients = dept(QStringLiteral("Outpatients"), QStringLiteral("1"));
        lab = dept(QStringLiteral("St. Mary's Lab"), QStringLiteral("1"));
        radiology = dept(QStringLiteral("Radiology"), QStringLiteral("1"));
        const qint64 closed = dept(QStringLiteral("Closed"), QStringLiteral("0"));
        consult = service(outpatients, QStringLiteral("Consultation"), QStringLiteral("A"), QStringLiteral("1"));
        blood = service(lab, QStringLiteral("Blood test"), QStringLiteral("B"), QStringLiteral("1"));
        xray = service(radiology, QStringLiteral("X-ray"), QStringLiteral("X"), QStringLiteral("1"));
        service(closed, QStringLiteral("Archive"), QStringLiteral("Z"), QStringLiteral("0"));
        counter1 = db.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, "
                                            "active) VALUES (?, 'Counter 1', 'One', 'alice', 'x', '1') "
                                            "RETURNING cntAuto"),
                             {consult});
        counter2 = db.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, "
                                            "active) VALUES (?, 'Counter 2', 'Two', 'bob', 'x', '1') "
                                            "RETURNING cntAuto"),
                             {blood});
        const QString today = QStringLiteral("2026-03-14");
        ticket(consult, 1, QStringLiteral("A"), today, counter1, QStringLiteral("10:00:00"), QStringLiteral("10:05:30"));
        ticket(consult, 2, QStringLiteral("A"), today, counter1, QStringLiteral("10:10:00"), QStringLiteral("10:17:00"));
        ticket(blood, 1, QStringLiteral("B"), today, counter2, QStringLiteral("10:05:59"), QStringLiteral("10:15:01"));
        ticket(blood, 2, QStringLiteral("B"), today, 99, QStringLiteral("11:00:00"), QStringLiteral("11:00:59"));
        ticket(blood, 3, QStringLiteral("B"), today, counter2, QStringLiteral("12:00:00"), QString());
        ticket(consult, 3, QStringLiteral("A"), today, 0, QString(), QString());
        ticket(consult, 4, QStringLiteral("A"), QStringLiteral("2026-03-13"), counter1, QStringLiteral("09:00:00"),
               QStringLiteral("09:03:00"));
        const QString tenth = QStringLiteral("2026-03-10");
        ticket(xray, 1, QStringLiteral("X"), tenth, 0, QStringLiteral("09:00:00"), QStringLiteral("09:05:00"));
        ticket(xray, 2, QStringLiteral("X"), tenth, 0, QStringLiteral("09:10:00"), QStringLiteral("09:17:00"));
        ticket(xray, 3, QStringLiteral("X"), tenth, 0, QStringLiteral("09:20:00"), QStringLiteral("09:30:00"));
    }

    qint64 dept(const QString& name, const QString& active)
    {
        return temp.db().insert(
            QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES (?, '', ?) RETURNING deptAuto"),
            {name, active});
    }

    qint64 service(qint64 deptKey, const QString& name, const QString& prefix, const QString& active)
    {
        return temp.db().insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, "
                                               "endno, abrno) VALUES (?, ?, '', ?, '1', '999', ?) RETURNING servAuto"),
                                {deptKey, name, active, prefix});
    }

    // A token; an empty start time leaves it waiting, an empty finish leaves it being served.
    qint64 ticket(qint64 serviceKey, int number, const QString& prefix, const QString& date, qint64 counter,
                  const QString& from, const QString& to)
    {
        return temp.db().insert(
            QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, "
                           "attTime, finished, status) VALUES (?, ?, ?, '08:00:00', ?, ?, ?, ?, ?, ?) "
                           "RETURNING tickAuto"),
            {serviceKey, number, date, from.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"),
             prefix + QString::number(number), counter, from, to,
             from.isEmpty() ? QString() : QStringLiteral("Finished")});
    }
};

} // namespace tallyvo::test
