#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

namespace tallyvo {

class Clock;
class Database;

// The supervisors' view of the queue at this moment: per active service who waits and how long,
// per active counter what it is doing. The administrator's "Live Board" window and the web
// station's board both show this, so the figures are counted here only, and the estimate is
// WaitEstimator's.
class LiveBoard {
public:
    struct ServiceLine {
        int key = 0;
        QString name;
        int waiting = 0;                      // tokens waiting now
        std::optional<int> longestWait;       // minutes the longest-waiting token has waited
        std::optional<int> estimatedWait;     // minutes a token taken now would wait
        int servedToday = 0;
        std::optional<double> averageService; // whole service minutes per finished served token
        std::optional<int> target;            // the service's target wait, minutes
        bool pastTarget = false;              // someone has waited longer than the target
    };
    struct CounterLine {
        int key = 0;
        QString name;
        QString displayName;
        QString service;
        bool serving = false; // a token in hand
        QString token;        // its label
        QString since;        // "HH:mm:ss": called at, or idle since its last finish; "" when not today
    };
    struct Snapshot {
        QString date;
        QString time;
        std::vector<ServiceLine> services;
        std::vector<CounterLine> counters;

        QJsonObject toJson() const;
    };

    LiveBoard(const Database& db, const Clock& clock);

    // Reads the board now. Throws DbError.
    Snapshot snapshot() const;

private:
    const Database& m_db;
    const Clock& m_clock;
};

} // namespace tallyvo
