#include "core/DemoSite.h"

#include "core/Database.h"
#include "core/Passwords.h"
#include "core/Paths.h"

namespace tallyvo::DemoSite {

namespace {

struct ThemeLook {
    QString name;
    int screen, table, line, alt, text, headerBg, headerText, title, news, clock;
};

qint64 addTheme(const Database& db, const ThemeLook& t)
{
    const qint64 key = db.insert(
        QStringLiteral(
            "INSERT INTO tbltheme (themename, colums, rows, colwidth, rowheight, logo, displaytime, clockfile, "
            "fonttime, sizetime, clrtime, backgroundclr, linecolor, altcolr, bgimage, hdfont, hdclrbg, hdfntclr, "
            "hdfntsize, fntcrr, sizecrr, clrcrr, bgcrr, fntval, sizeval, clrval, bgval, type, screenclr, "
            "linewidth, videofile, onlinevideo, volume, enablemovie, ttlname, ttlfont, ttlcolor, ttlsize, "
            "scroll, tformat, enableH, Column1, Column2, img1, img2, newsBG) VALUES "
            "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) "
            "RETURNING themeauto"),
        {t.name, QStringLiteral("2"), QStringLiteral("9"), QStringLiteral("3150;3400"), QStringLiteral("550"),
         QString(), 1, QString(), QStringLiteral("Arial"), QStringLiteral("20"), t.clock, t.table, t.line, t.alt,
         QString(), QStringLiteral("Arial"), t.headerBg, t.headerText, QStringLiteral("20"), QStringLiteral("Arial"),
         QStringLiteral("28"), t.text, t.table, QStringLiteral("Arial"), QStringLiteral("20"), t.text, t.table,
         QStringLiteral("Horrizontal"), t.screen, QStringLiteral("1"), QString(), QString(), QStringLiteral("5"), 1,
         QStringLiteral("Welcome - please wait for your number"), QStringLiteral("Arial"), t.title,
         QStringLiteral("24"), 1, QStringLiteral("dd-MMM-yyyy HH:mm"), 1, QStringLiteral("Token"),
         QStringLiteral("Counter"), QString(), QString(), t.news});
    // Regions on the half-size design surface of a 1920 x 1080 screen (twips).
    db.run(QStringLiteral(
               "INSERT INTO tblpos (themeauto, logoleft, logotop, logowidth, logoheight, timeleft, timetop, "
               "timewidth, timeheight, tblleft, tbltop, tblwidth, tblheight, videoleft, videotop, videowidth, "
               "videoheight, meleft, metop, mewidth, meheight, ttlleft, ttltop, ttlwidth, ttlheight, newsleft, "
               "newstop, newswidth, newsheight) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
           {key, 150, 150, 2400, 1200, 11550, 150, 2700, 1200, 150, 1500, 6600, 5550, 6900, 1500, 7350, 5550, 0, 0,
            14400, 8100, 2700, 150, 8700, 1200, 0, 7200, 14400, 750});
    return key;
}

qint64 addDept(const Database& db, const QString& name, const QString& desc)
{
    return db.insert(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES (?, ?, '1') "
                                    "RETURNING deptAuto"),
                     {name, desc});
}

qint64 addService(const Database& db, qint64 dept, const QString& name, const QString& desc, int start, int end,
                  const QString& prefix)
{
    return db.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, "
                                    "abrno) VALUES (?, ?, ?, '1', ?, ?, ?) RETURNING servAuto"),
                     {dept, name, desc, QString::number(start), QString::number(end), prefix});
}

void addCounter(const Database& db, qint64 service, const QString& name, const QString& display,
                const QString& user, const QString& password)
{
    db.run(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                          "VALUES (?, ?, ?, ?, ?, '1')"),
           {service, name, display, user, Passwords::hash(password)});
}

} // namespace

bool create(const Database& db)
{
    Transaction t(db);
    if (db.scalar(QStringLiteral("SELECT count(*) FROM tblDept")).toInt() > 0)
        return false;

    const qint64 clinic = addDept(db, QStringLiteral("Outpatients"), QStringLiteral("General consultations"));
    const qint64 lab = addDept(db, QStringLiteral("Laboratory"), QStringLiteral("Samples and results"));
    const qint64 consult = addService(db, clinic, QStringLiteral("Consultation"),
                                      QStringLiteral("Please have your health card ready"), 1, 999,
                                      QStringLiteral("A"));
    const qint64 pharmacy = addService(db, clinic, QStringLiteral("Pharmacy"),
                                       QStringLiteral("Prescriptions and repeat medicines"), 100, 499,
                                       QStringLiteral("P"));
    const qint64 blood = addService(db, lab, QStringLiteral("Blood Test"),
                                    QStringLiteral("Fasting samples before 10:00"), 1, 300, QStringLiteral("L"));
    addCounter(db, consult, QStringLiteral("Counter 1"), QStringLiteral("Room 1"), QStringLiteral("counter1"),
               QStringLiteral("1111"));
    addCounter(db, pharmacy, QStringLiteral("Counter 2"), QStringLiteral("Pharmacy Desk"),
               QStringLiteral("counter2"), QStringLiteral("2222"));
    addCounter(db, blood, QStringLiteral("Counter 3"), QStringLiteral("Lab Window"), QStringLiteral("counter3"),
               QStringLiteral("3333"));

    // Colours are 0x00BBGGRR.
    addTheme(db, {QStringLiteral("Black H"), 0x000000, 0x000000, 0x808080, 0x202020, 0xFFFFFF, 0x404040, 0x00FFFF,
                  0x00FFFF, 0x303030, 0xFFFFFF});
    addTheme(db, {QStringLiteral("HR1"), 0x7F3F00, 0xFFFFFF, 0x7F3F00, 0xF5E6D8, 0x000000, 0x7F3F00, 0xFFFFFF,
                  0xFFFFFF, 0x7F3F00, 0xFFFFFF});

    db.run(QStringLiteral("UPDATE tblComp SET compName=?, compAddress=? WHERE compAuto=1"),
           {QStringLiteral("Tallyvo Demo Clinic"), QStringLiteral("1 High Street")});
    db.run(QStringLiteral("INSERT INTO tblscroll (message, msgrtf, msgrtfcopy, active, fontname, fontsize, "
                          "fontcolor, bold, italic, direction) VALUES (?, ?, ?, '1', 'Arial', '20', ?, 1, 0, 'Left')"),
           {QStringLiteral("Welcome to the Tallyvo demo clinic. Please keep your ticket until you are called."),
            QString(), QString(), 0xFFFFFF});
    // The display's playlist: pictures shipped beside the program, so the video pane is not empty.
    const QStringList pictures{QStringLiteral("welcome.jpg"), QStringLiteral("hours.jpg"),
                               QStringLiteral("ticket.jpg")};
    const QStringList descriptions{QStringLiteral("Welcome"), QStringLiteral("Opening hours"),
                                   QStringLiteral("How calling works")};
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        db.run(QStringLiteral("INSERT INTO tblVideo (vidPath, vidDesc, active) VALUES (?, ?, '1')"),
               {Paths::dataFile(QStringLiteral("demo/") + pictures.at(i)), descriptions.at(i)});
    }
    t.commit();
    return true;
}

} // namespace tallyvo::DemoSite
