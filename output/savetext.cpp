#include "savetext.h"

#include "app/windowstate.h"

namespace varnel {

void PushButton6_Click(WindowState& form)
{
    Q_UNUSED(form);
}

} // namespace varnel
