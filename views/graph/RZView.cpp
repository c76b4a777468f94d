#include "RZView.h"

bool RZView::wantsDefaultClipping() const
{
    return false;
}
