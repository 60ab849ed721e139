#include "qdsfile_deck.h"

// The card readers are not there yet: no deck can be read.
int CsReadDyna::ReadFile() { return 0; }
