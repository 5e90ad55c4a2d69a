#pragma once

#include "session/portsession.h"
#include "session/receivepipeline.h"

#include <memory>

namespace kirt {

// A port session and its receive pipeline with nobody watching: the echo and the rules'
// responses go straight to the port. What a run without a window stands on; a window has its
// own output and shows what the pipeline hands on.
class PortEngine final : private ReceiveOutput
{
public:
    explicit PortEngine(PortFactory factory = systemPortFactory(),
                        ReceiveDisplaySink* display = nullptr);
    ~PortEngine() override;

    PortEngine(const PortEngine&) = delete;
    PortEngine& operator=(const PortEngine&) = delete;

    PortSession& session() { return *m_session; }
    ReceivePipeline& pipeline() { return m_pipeline; }

    // Why the log stopped, when it could not be written.
    QString logError() const { return m_logError; }

private:
    void writeEcho(const std::uint8_t* bytes, std::uint32_t count) override;
    void writeResponse(int rule, const std::uint8_t* bytes, std::uint32_t count) override;
    void logFailed(const QString& path, const QString& reason) override;

    ReceivePipeline m_pipeline;
    // After the pipeline: the session's thread is stopped before the pipeline goes.
    std::unique_ptr<PortSession> m_session;
    QString m_logError;
};

} // namespace kirt
