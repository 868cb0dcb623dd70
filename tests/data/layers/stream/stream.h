#include "base/memory.h"
#include "frame/entry.h"
#include "mz/mz.h"
