#include "platform/types.h"
