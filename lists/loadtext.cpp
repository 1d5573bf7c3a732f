#include "loadtext.h"

#include "app/windowstate.h"

namespace varnel {

void PushButton4_Click(WindowState& form)
{
    Q_UNUSED(form);
}

void AddLinesFromFile(WindowState& form, LineList& list, const QString& path)
{
    Q_UNUSED(form);
    Q_UNUSED(list);
    Q_UNUSED(path);
}

} // namespace varnel
