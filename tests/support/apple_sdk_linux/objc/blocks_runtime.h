// GNUstep's headers include this for the blocks runtime; on Linux it is libBlocksRuntime.
#include <Block.h>
