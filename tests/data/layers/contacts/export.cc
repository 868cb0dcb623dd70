#include "contacts/export.h"
#include "export.h"
#include "messages/text.h"
#include "vobject/record.h"
