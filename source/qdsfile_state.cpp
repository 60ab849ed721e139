// STUB: to be replaced by the blank state reader.
#include "qdsfile_state.h"

int CsReadData::ReadFile() { return 0; }
