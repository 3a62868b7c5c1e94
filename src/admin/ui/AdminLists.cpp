#include "admin/ui/AdminLists.h"

#include "core/Connection.h"
#include "core/DbError.h"
#include "core/Prompt.h"

namespace tallyvo {

AdminList::AdminList(Connection& connection, Prompt& prompt, QWidget* parent, Qt::WindowFlags flags)
    : ListWindow(prompt, parent, flags)
    , m_connection(connection)
{
}

void AdminList::load()
{
    // A working connection is never swapped for a new one; a failed connect has already opened
    // the connection window, and the list then says why it is empty.
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
}

const Database& AdminList::db() const
{
    return *m_connection.db();
}

bool AdminList::runDelete(const std::function<bool()>& deleted)
{
    try {
        if (deleted())
            return true;
        prompt().message(tr("Cannot delete "));
    } catch (const DbError& e) {
        prompt().message(e.text());
    }
    return false;
}

} // namespace tallyvo
