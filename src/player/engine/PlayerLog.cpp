#include "player/engine/PlayerLog.h"

namespace kino {

Q_LOGGING_CATEGORY(lcPlayer, "kinolite.player", QtWarningMsg)

} // namespace kino
