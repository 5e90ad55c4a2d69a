#include "session/portengine.h"

namespace kirt {

PortEngine::PortEngine(PortFactory factory, ReceiveDisplaySink* display)
    : m_pipeline(display, static_cast<ReceiveOutput&>(*this)),
      m_session(std::make_unique<PortSession>(std::move(factory), m_pipeline))
{
}

PortEngine::~PortEngine()
{
    m_session->shutdown();
}

void PortEngine::writeEcho(const std::uint8_t* bytes, std::uint32_t count)
{
    m_session->write(bytes, count);
}

void PortEngine::writeResponse(int, const std::uint8_t* bytes, std::uint32_t count)
{
    m_session->write(bytes, count);
}

void PortEngine::logFailed(const QString& path, const QString& reason)
{
    m_logError = path + QStringLiteral(": ") + reason;
}

} // namespace kirt
