#pragma once
#include <string>

#include "platform/process_runner.h"

namespace hw::helper {

// Whether the kernel can hold an ESP security association: adds one in
// transport mode between two documentation addresses and removes it again,
// over netlink (the runner is not used; callers keep passing theirs).
// strongSwan's user-space ESP does tunnel mode only, so L2TP needs this;
// IKEv2 falls back to it.
bool kernelSupportsEsp(ProcessRunner& runner, std::string* why = nullptr);
// Removes that association, should a helper have died between the two.
void removeEspProbe(ProcessRunner& runner);

}  // namespace hw::helper
