#pragma once

#include <cstdint>

namespace tavlin {

// The machine's physical memory in bytes; 0 when it cannot be told.
std::int64_t physicalMemoryBytes();

// Hands large buffers (decoded pictures) back to the system as soon as they are
// freed. Without it the C library may keep a freed 24 MB decode buffer for
// reuse, once per decoding thread, and the process stays that much larger.
void returnLargeBuffersPromptly();

} // namespace tavlin
