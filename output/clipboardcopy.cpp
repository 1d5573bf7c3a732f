#include "clipboardcopy.h"

#include "app/windowstate.h"

namespace varnel {

void PushButton8_Click(WindowState& form)
{
    Q_UNUSED(form);
}

} // namespace varnel
