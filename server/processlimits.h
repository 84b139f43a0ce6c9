#pragma once

#include <cstddef>
#include <string>

// What the gateway asks of the system for itself at start.
namespace ProcessLimits {

// Raises the open-files soft limit to the hard one. Empty when `needed` descriptors fit
// beneath it, else why not, with what to change.
std::string fitDescriptors(std::size_t needed, const std::string& what);

// Keeps the process out of core dumps and other processes' ptrace: its memory holds
// access keys and passwords.
void makeUndumpable();

} // namespace ProcessLimits
