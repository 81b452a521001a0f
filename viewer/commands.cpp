// Commands of the pop-up menu that open other parts of the program.
#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::RenameSingleFile() {}
void Tavlin::btnRename_Click() {}
void Tavlin::PrintPicture() {}
void Tavlin::ShowAbout() {}
void Tavlin::OpenHelp() {}

} // namespace tavlin
