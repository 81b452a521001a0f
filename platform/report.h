#pragma once

#include <QString>

namespace tavlin {

// Tells a user who started the program from a terminal what went wrong: "tavlin: "
// and the message, a line of its own on standard error.
void reportProblem(const QString& message);

} // namespace tavlin
