// Keys, commands, the menu, typing into the display, key help and the About box.
#include "app/Umain.h"

#include "ui_Umain.h"

struct TFmain::KeysState
{
};

void TFmain::AreaDeleter::operator()(KeysState* state) const
{
    delete state;
}

void TFmain::connectKeys()
{
    m_keys.reset(new KeysState);
}

void TFmain::FormKeyDown(int&, Qt::KeyboardModifiers) {}
void TFmain::EXIT_BitBtnClick() {}
void TFmain::ExitClick() {}
void TFmain::UserMamualClick() {}
void TFmain::AboutClick() {}

bool TFmain::mMessageKeyPress(char16_t)
{
    // The display never inserts typed characters itself.
    return true;
}
