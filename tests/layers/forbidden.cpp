// Built only by tst_layers, as a file of serial/ sees the tree: display/ is not among what
// serial/ may use, so this include must not compile.
#include "display/frames.h"
