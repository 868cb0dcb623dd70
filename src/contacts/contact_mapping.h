// Writes one slot of a ContactRecord onto a stored contact through the
// contact's setters.
#pragma once

#include <cstdint>

#include "platform/contact_store.h"
#include "vobject/contact_record.h"

namespace mz {

// Applies slot `index` of class `slotClass` (kSlotShort, kSlotMedium or
// kSlotLong) of `record` to `contact`. A slot whose code names no contact
// field, a class other than 1..3, an index out of range or a null argument
// changes nothing. Setter failures are not reported: the property keeps its
// old value. Always returns 0; the contact is not saved here.
int32_t ApplySlotToContact(IContact* contact, const ContactRecord* record, int32_t index,
                           SlotClass slotClass);

}  // namespace mz
