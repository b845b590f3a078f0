// Button queries that need no display: the scripted button of headless shows and tests.
#include "platform/platform.h"

namespace platform {

std::int16_t ScriptedButton::LeftButtonState() {
  ++queries_;
  return queries_ > framesBeforeChange_ ? PressedSinceLastQuery : 0;
}

} // namespace platform
