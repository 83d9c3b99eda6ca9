// Built only by tst_layers, as a file of serial/ sees the tree: protocol/ is not among what
// serial/ may use, so this include must not compile.
#include "protocol/frames.h"
