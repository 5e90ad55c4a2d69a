#include "serial/portfactory.h"

#include "serial/routedport.h"

namespace kirt {

PortFactory systemPortFactory()
{
    return [] { return std::make_shared<RoutedPort>(); };
}

} // namespace kirt
