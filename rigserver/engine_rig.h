// MakeEngineRig: rig 1 or 2 of the running server, the rig engine behind the ServerRig
// interface that the main window and the bus objects use.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "server_rig.h"

namespace tarvane {

std::unique_ptr<ServerRig> MakeEngineRig(int rigNumber, std::function<void(const std::string&)> log,
                                         TRigEvents& events);

}  // namespace tarvane
