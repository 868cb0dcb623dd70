#include "frame/entry.h"
