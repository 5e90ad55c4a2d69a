#pragma once

namespace kirt {

// The bench's fixed rows: nine prepared transmit lines and four protocol rules. The window's
// rows, the workbench file, the auto-transmit cycle, the receive pipeline and the scripts all
// count with these.
inline constexpr int TransmitLineCount = 9;
inline constexpr int ProtocolRuleCount = 4;

} // namespace kirt
