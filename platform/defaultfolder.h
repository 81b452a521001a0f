#pragma once

#include <QString>

namespace tavlin {

// The folder shown when none is stored or the stored one is gone: the user's
// Pictures folder when it exists, else the home folder (the root as a last resort).
QString DefaultFolder();

} // namespace tavlin
