// The one piece of advice for a node the service may not open.
#pragma once

namespace rumble {

// What to do when a node cannot be opened for want of permission.
inline constexpr const char* kRuleAdvice =
    "install the udev rule 60-talvex-rumble.rules (into /usr/lib/udev/rules.d or "
    "/etc/udev/rules.d; it gives the user talvex-rumble the wheel's hidraw and event nodes and "
    "/dev/uinput), run 'udevadm control --reload-rules && udevadm trigger', and run the service "
    "as the user talvex-rumble (its systemd unit does), or as root";

}  // namespace rumble
