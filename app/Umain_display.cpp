// The receive display: what is typed into it.
#include "app/Umain.h"

#include "ui_Umain.h"

bool TFmain::mMessageKeyPress(char16_t)
{
    // The display never inserts typed characters itself.
    return true;
}
