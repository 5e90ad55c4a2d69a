#include "app/Umain.h"

// Needs the window's header and, through its meta-object, the window's code at link time;
// constructs nothing.
int main()
{
    return TFmain::staticMetaObject.className() != nullptr ? 0 : 1;
}
