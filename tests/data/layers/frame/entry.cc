#include "base/memory.h"
#include "contacts/export.h"
#include "messages/text.h"
#include "settings/sounds.h"
