#include "spreadsheetexport.h"

#include "app/windowstate.h"

namespace varnel {

void PushButton2_Click(WindowState& form)
{
    Q_UNUSED(form);
}

} // namespace varnel
