#pragma once

#include <QString>

namespace tavlin {

// The folder recorded at the very first start; the help document is looked
// for there.
inline QString svWorkingDirectory;

} // namespace tavlin
