#include "frame/session.h"

namespace mz {

constinit Session g_session;

}  // namespace mz
