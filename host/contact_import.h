// One card of an import, shared by `mzhost contacts import` and the server's
// import: normalized, then added as a new contact.
#pragma once

#include <cstdint>
#include <string>

#include "cards/card_normalizer.h"
#include "host.h"
#include "vcf.h"

namespace mzhost {

struct ImportedCard {
  NormalizedCard normal;
  std::string id;          // the new contact's; empty when not added
  std::string refusal;     // why it was not added; empty when it was (or on a dry run)
  int32_t result = MZ_OK;  // MZ_AddContact's; MZ_E_FAILED: the phone takes no more
};

// Refused (a Failure) when the contacts folder is not available.
ImportedCard ImportCard(Host& host, const Card& card, TypePolicy policy, bool dryRun);

}  // namespace mzhost
