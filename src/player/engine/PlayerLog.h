#pragma once
// The player's log: what it decided and what GStreamer told it (errors with their
// debug text, warnings, refused state changes, the elements picked for a source), so
// that "it does not play" can be answered. Silent unless
// QT_LOGGING_RULES="kinolite.player.debug=true".
#include <QLoggingCategory>

namespace kino {

Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

} // namespace kino
