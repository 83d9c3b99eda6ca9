// Built only by tst_layers, as a file of serial/ sees the tree: its own folder and text/,
// which it may use. This one must compile, so that the refusal of forbidden.cpp means what
// it says.
#include "serial/mscomm.h"
#include "text/number.h"
