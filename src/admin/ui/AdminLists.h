#pragma once

#include "widgets/ListWindow.h"

#include <functional>
#include <memory>

namespace tallyvo {

class Connection;
class Database;

// What the administration lists share: the station's connection, opened when the list loads if
// nothing is connected yet, and the database's own words for a refused delete.
class AdminList : public ListWindow {
    Q_OBJECT
public:
    AdminList(Connection& connection, Prompt& prompt, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void load() override;
    const Database& db() const;
    Connection& connection() const { return m_connection; }
    // Runs a delete rule, showing "Cannot delete " when the record is in use and the database's
    // text when it refuses; true when the record is gone.
    bool runDelete(const std::function<bool()>& deleted);

private:
    Connection& m_connection;
};

} // namespace tallyvo
