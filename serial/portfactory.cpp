#include "serial/portfactory.h"

#include "serial/termiosport.h"

namespace kirt {

PortFactory systemPortFactory()
{
    return [] { return std::make_shared<TermiosPort>(); };
}

} // namespace kirt
