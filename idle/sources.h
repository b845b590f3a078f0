// The idle sources of each kind of session, each null where the session does not offer it.
#pragma once

#include <chrono>
#include <memory>

#include "idle/idle.h"

namespace idle {

std::unique_ptr<IdleSource> OpenWaylandSource(std::chrono::seconds period);
std::unique_ptr<IdleSource> OpenGnomeSource(std::chrono::seconds period);
std::unique_ptr<IdleSource> OpenX11Source(std::chrono::seconds period);

} // namespace idle
