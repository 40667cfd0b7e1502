#pragma once
// Switching the computer off when a long run has ended. The request goes to the login
// manager (systemd-logind over the system bus), which decides whether this user may do it;
// nothing is run through a shell. Tests replace the request with a fake so that no test can
// ever switch a machine off.
#include <functional>
#include <string>

namespace power {

// Asks for the computer to be powered off, other programs' objections overridden as far as
// the login manager allows. False (with the reason in *error) when the request was refused
// or nobody answered.
bool PowerOff(std::string* error = nullptr);

// Replaces the request; an empty function restores the login manager.
using TPowerOffRequest = std::function<bool(std::string* error)>;
void SetPowerOffRequest(TPowerOffRequest request);

}  // namespace power
